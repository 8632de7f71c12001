// The main window: the processed mails, the activity log, the connections,
// the download progress and the buttons, all drawn from the hub's models; the
// buttons and the list call the hub's handlers. It owns the rule editor and
// the analysis dialog. Closing it hides it; with no notification area to
// bring it back from, it is minimised instead and has its own "Quitter".
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class CAnalyseDialog;
class CHistoryDialog;
class CMailRecord;
class CLogView;
class CMailListItemModel;
class CMainDialog;
class CRulesDialog;
class CSettingsDialog;
class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeView;

class CMainWindow : public QDialog
{
    Q_OBJECT
public:
    // `withTray`: a notification area exists to show the window from.
    CMainWindow(CMainDialog& hub, bool withTray, QWidget* parent = nullptr);
    ~CMainWindow() override;

    // The handlers, as the buttons and the list call them.
    void OnRules();
    void OnStopFilter();
    void OnClearList();
    void OnMailListRightClick();
    void OnDisconnectAll();
    // "Spam" / "Pas un spam" on the selected rows.
    void OnCorrect(bool spam);
    void OnHistory();
    // "Paramètres": the settings dialog, filled from the file.
    void OnSettings();
    // Corrects one message: for "not spam" on a message a rule caught, the
    // user is first asked whether its sender goes into TRUST:.
    void Correct(CMailRecord& record, bool spam);
    // Asks a yes/no question (a message box unless replaced).
    std::function<bool(const std::string&)> m_ask;
    // The analysis dialog's "RÃ¨gles".
    void OpenRulesFromAnalysis();

    bool WithTray() const { return m_bWithTray; }
    QTreeView* MailList() const { return m_pMailList; }
    CMailListItemModel* MailModel() const { return m_pMailModel; }
    CLogView* LogView() const { return m_pLog; }
    QListWidget* Connections() const { return m_pConnections; }
    QProgressBar* MailboxBar() const { return m_pMailboxBar; }
    QProgressBar* MessageBar() const { return m_pMessageBar; }
    QLabel* Status() const { return m_pStatus; }
    QCheckBox* StopFilter() const { return m_pStopFilter; }
    QPushButton* QuitButton() const { return m_pQuit; }
    CRulesDialog* RulesDialog() const { return m_pRulesDialog; }
    CAnalyseDialog* AnalyseDialog() const { return m_pAnalyseDialog; }
    CHistoryDialog* HistoryDialog() const { return m_pHistoryDialog; }
    CSettingsDialog* SettingsDialog() const { return m_pSettingsDialog; }
    // The mail list's width when its columns were set.
    int ColumnBase() const { return m_nColumnBase; }

    // Close box, Escape and the OK command.
    void reject() override;
    void accept() override { reject(); }

signals:
    // "Quitter" chosen in the window.
    void quitRequested();

private:
    void SetUpColumns();
    void ShowProgress();
    void ShowConnections();
    void SyncSelection();

    CMainDialog& m_hub;
    bool m_bWithTray;
    QTreeView* m_pMailList = nullptr;
    CMailListItemModel* m_pMailModel = nullptr;
    CLogView* m_pLog = nullptr;
    QCheckBox* m_pStopFilter = nullptr;
    QListWidget* m_pConnections = nullptr;
    QProgressBar* m_pMailboxBar = nullptr;
    QProgressBar* m_pMessageBar = nullptr;
    QLabel* m_pStatus = nullptr;
    QPushButton* m_pQuit = nullptr;
    CRulesDialog* m_pRulesDialog = nullptr;
    CAnalyseDialog* m_pAnalyseDialog = nullptr;
    CHistoryDialog* m_pHistoryDialog = nullptr;
    CSettingsDialog* m_pSettingsDialog = nullptr;
    int m_nColumnBase = 0;
};
