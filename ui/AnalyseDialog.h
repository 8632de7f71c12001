// The analysis dialog: one processed message, its header summary with the
// verdict, and its text, on which the decoders and text operations can be
// applied one at a time to see what the filter matches against.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class CMainDialog;
class CMailRecord;
class QPlainTextEdit;
class QPushButton;

class CAnalyseDialog : public QDialog
{
    Q_OBJECT
public:
    // `openRules` is the "Règles" button's action.
    CAnalyseDialog(CMainDialog& hub, std::function<void()> openRules, QWidget* parent = nullptr);

    // Fills both panes from m_pRecord; nothing when there is none.
    void Refill();
    // Shows `record` (not owned; only Refill reads it).
    void ShowRecord(CMailRecord* record);

    // The text operations, on the message pane's text.
    void OnBase64();
    void On8Bit();
    void OnQuotedPrintable();
    void OnEntities();
    void OnStripHtml();
    void OnSqueeze();

    // What the panes hold, as the system's bytes.
    const std::string& SummaryText() const { return m_strSummary; }
    const std::string& MessageText() const { return m_strMessage; }
    QPlainTextEdit* SummaryPane() const { return m_pSummary; }
    QPlainTextEdit* MessagePane() const { return m_pMessage; }

    CMailRecord* m_pRecord = nullptr;
    // "Spam" / "Pas un spam": corrects the message shown.
    std::function<void(CMailRecord&, bool)> m_correct;

    void accept() override { hide(); }
    void reject() override { hide(); }

private:
    // `keepPlace`: the pane stays scrolled where it was.
    void SetMessage(std::string text, bool keepPlace = true);
    QPushButton* Button(const char* text, const char* name, void (CAnalyseDialog::*handler)());

    CMainDialog& m_hub;
    std::function<void()> m_openRules;
    QPlainTextEdit* m_pSummary = nullptr;
    QPlainTextEdit* m_pMessage = nullptr;
    // The panes' texts as bytes: the operations work on what the pane shows,
    // byte for byte, not on a round trip through the screen's characters.
    std::string m_strSummary;
    std::string m_strMessage;
};
