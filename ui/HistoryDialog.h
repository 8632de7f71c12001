// The history: every message the store keeps, on the server or no longer,
// whatever the mail list still shows. It is searched by sender, subject or
// day and by verdict; a message is opened in the analysis dialog or
// corrected from here.
#pragma once

#include "store/MessageStore.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

class CMainDialog;
class CMailRecord;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

class CHistoryDialog : public QDialog
{
    Q_OBJECT
public:
    // `open` shows a record in the analysis dialog; `correct` corrects one.
    CHistoryDialog(CMainDialog& hub, std::function<void(CMailRecord*)> open,
                   std::function<void(CMailRecord&, bool)> correct, QWidget* parent = nullptr);
    ~CHistoryDialog() override;

    // Lists the kept messages the search and the verdict choose.
    void Refill();
    void OnOpen();
    void OnCorrect(bool spam);

    QLineEdit* Search() const { return m_pSearch; }
    QComboBox* Verdict() const { return m_pVerdict; }
    QTreeWidget* List() const { return m_pList; }
    QLabel* Count() const { return m_pCount; }

private:
    // The kept messages of the selected rows, in list order.
    std::vector<const SKeptMessage*> Selected() const;

    CMainDialog& m_hub;
    std::function<void(CMailRecord*)> m_open;
    std::function<void(CMailRecord&, bool)> m_correct;
    QLineEdit* m_pSearch = nullptr;
    QComboBox* m_pVerdict = nullptr;
    QTreeWidget* m_pList = nullptr;
    QLabel* m_pCount = nullptr;
    std::vector<SKeptMessage> m_rows;
    // The record the analysis dialog shows from here (it holds a pointer).
    std::unique_ptr<CMailRecord> m_pOpened;
};
