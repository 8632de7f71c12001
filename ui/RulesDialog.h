// The rule editor: nine tabs, one per rule list of the hub's rule set; the
// entries of the current list in a sorted list; "Ajouter" and "Supprimer"
// change the list in memory at once, OK writes the rule file and hides the
// dialog, Cancel only hides it.
#pragma once

#include "filter/RuleSet.h"

#include <QDialog>
#include <string>

class CMainDialog;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabBar;

class CRulesDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kTabCount = 9;
    // The rule list a tab index stands for; kRuleListCount for none.
    static ERuleList ListOfTab(int tab);

    CRulesDialog(CMainDialog* owner, QWidget* parent = nullptr);

    // Makes the list of tab `tab` current (none for an index out of range)
    // and, with `refill`, shows its entries.
    void SelectRuleList(int tab, bool refill);
    int SelectedTab() const;
    RuleList* CurrentList() const { return m_pCurrentList; }

    void OnAddRule();
    void OnRemoveRule();
    // OK: writes the rule file; true when the dialog was hidden.
    bool SaveRules();
    // A click in the list: the first selected row's text goes to the entry box.
    void OnListClick();

    // For tests and the screenshots.
    QTabBar* Tabs() const { return m_pTabs; }
    QListWidget* List() const { return m_pList; }
    QLineEdit* Entry() const { return m_pEntry; }
    QLabel* Failure() const { return m_pFailure; }

    void accept() override;
    void reject() override;

protected:
    // Enter in the entry box adds the entry instead of pressing OK.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void AddRow(const std::string& text);

    CMainDialog* m_pOwner;
    QTabBar* m_pTabs = nullptr;
    QListWidget* m_pList = nullptr;
    QLineEdit* m_pEntry = nullptr;
    QLabel* m_pFailure = nullptr;
    std::string m_strEntry;
    int m_nTab = 0;
    RuleList* m_pCurrentList = nullptr;
};
