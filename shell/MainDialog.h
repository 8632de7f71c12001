// The hub: owns the settings, the activity log, the window models, the proxy,
// the rule set, the plug-ins and the analysis, and keeps the system's
// operations under their names as short forwards to the component that does
// the work (grouped by subsystem: MainDialog.cpp, HubProxy.cpp,
// HubFilter.cpp). The windows in ui/ draw its models and call its handlers;
// the hub never touches a widget, so the proxy and the analysis run without a
// display.
#pragma once

#include "base/Models.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/Analysis.h"
#include "filter/PlugIns.h"
#include "filter/RuleSet.h"
#include "orvelane/plugin.h"
#include "proxy/ProxyServer.h"
#include "shell/LogWriter.h"
#include "shell/Settings.h"
#include "shell/SettingsFile.h"
#include "store/MessageStore.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CMainDialog : public QObject, public IProxyHost
{
    Q_OBJECT
public:
    explicit CMainDialog(QObject* parent = nullptr);
    ~CMainDialog() override;

    // ---- start-up and settings -------------------------------------------------
    // Settings, listener, self-test, window furniture.
    bool OnInitDialog();
    // Reads Orvelane.ini (current directory, then the configuration folder,
    // which then becomes the current directory).
    void ReadSettings();
    void ToggleDebug(bool enable);
    void SetAnalysisOff(bool off) { m_bAnalysisOff = off; }
    // The start-up message box (text, caption); without one, standard error.
    void SetMessageBox(std::function<void(const std::string&, const std::string&)> box);
    // The start-up self-test: analyses mail.txt of the configuration folder.
    void RunSelfTest();
    // Opens the store of analysed messages beside the settings file (the
    // current directory once they are read), unless MaxStoreMB is 0. At
    // start-up only once the listener is open.
    void OpenStore();
    CMessageStore& MessageStore() { return m_store; }
    CSettings& Settings() { return m_settings; }

    // ---- the settings dialog's work (HubSettings.cpp) --------------------------
    // Where Orvelane.ini was read from at start-up, or where it is created
    // (the configuration folder) when none was found.
    const std::string& SettingsPath() const { return m_strSettingsPath; }
    void SetSettingsPath(std::string path) { m_strSettingsPath = std::move(path); }
    // The file as it is now on disk (empty when there is none).
    CSettingsFile LoadSettingsFile() const;
    // What saving the dialog's form did.
    struct SSaved {
        bool written = false;
        std::string error;     // why the file could not be written
        bool listening = true; // the listener is open where the settings say
        // What takes effect only at the next start, as sentences.
        std::vector<std::string> atRestart;
    };
    // Puts `form` into the file (see StoreForm), writes it atomically, and
    // applies what it now says: the listener reopens on a new port or
    // address (or when it was not listening), the limits and the server
    // apply to what comes next, the plug-ins at the next mail check.
    SSaved SaveSettings(const SSettingsForm& form);
    // Makes `next` the settings in force, as far as the running program can.
    SSaved ApplySettings(const CSettings& next);
    // The check of the form's plug-in names: the file each loads from, or
    // empty when there is none.
    std::string PlugInPath(const std::string& name) const;
    // The listener's failure for the user: the logged line, then why and
    // what to do, in French.
    std::string ListenFailureText() const;
    // Shown instead of the plain start-up message when the listener fails.
    void SetListenFailureBox(std::function<void(const std::string& text)> box) { m_listenFailureBox = std::move(box); }
    void ShowListenFailure(const std::string& text) override;

    // ---- activity log and window models ----------------------------------------
    void AddLog(std::string text, bool truncate) override;
    // "Set Log": copies the NUL-terminated text at lParam into the log.
    void OnSetLog(uintptr_t wParam, intptr_t lParam);
    // The window handle handed to plug-ins, and the number of "Set Log".
    OrvelaneWindow* WindowHandle() { return &m_window; }
    uint32_t SetLogMessage() const { return m_nSetLogMessage; }
    // Registers a window message by name; the same name gives the same number.
    static uint32_t RegisterWindowMessage(const std::string& name);
    CLogWriter& LogWriter() { return m_logWriter; }
    const CActivityLog& Log() const { return m_logWriter.Log(); }
    CMailListModel& MailList() { return m_mailList; }
    CTrayModel& Tray() { return m_tray; }
    const std::string& Caption() const { return m_strCaption; }
    void SetTrayIcon(bool busy, bool forceAdd) override;

    // ---- the window's handlers (HubWindow.cpp) -------------------------------
    // "Stop filter" checked or not.
    void OnStopFilter(bool checked);
    // "Efface Liste": the rows, the processed mails and the log.
    void OnClearList();
    // "Déconnnexions": every session, numbered from 1 in list order.
    void OnDisconnectAll();
    // The records a right click on the selected rows opens, in the order they
    // are opened: per selected row (increasing), every processed mail whose
    // UIDL is empty or equals the row's UIDL cell.
    std::vector<CMailRecord*> OnMailListRightClick();
    // Shows the rule editor's log line (the window opens the editor itself).
    void LogRulesEdit();
    CMailDecoder& MailDecoder() { return m_mailDecoder; }
    const CTextTools& TextTools() const { return m_textTools; }

    // ---- proxy (HubProxy.cpp) --------------------------------------------------
    CProxyServer& Proxy() { return m_proxy; }
    const CProxyServer& Proxy() const { return m_proxy; }
    void OpenListener();
    void OnClientAccept();
    void OnSocketClose(IConnection* socket);
    void OnSocketReceive(IConnection* socket);
    void OnTimer(int32_t id);
    void CompleteScan(CSession* session);
    bool ReceiveAll(IConnection* socket, std::string& text, bool fromClient, int32_t index);
    void SendToServer(CSession* session, const char* bytes, int32_t length, bool truncate);
    void SendToClient(CSession* session, const char* bytes, int32_t length, bool truncate);
    CSession* SessionOfSocket(const IConnection* socket, int32_t* index = nullptr);
    CMailRecord* RecordAt(CSession* session, int32_t n);
    int32_t NextMessageToDownload(CSession* session);
    CMailRecord* ProcessedMailByUidl(const std::string& uidl);

    // What the proxy asks of its host.
    const CSettings& Settings() const override { return m_settings; }
    bool Debug() const override { return m_bDebug; }
    bool AnalysisOff() const override { return m_bAnalysisOff; }
    CProgressModel& Progress() override { return m_progress; }
    CConnectionListModel& Connections() override { return m_connections; }
    void MailCheckStarted() override;
    void ShowStartupMessage(const std::string& text, const std::string& caption) override;
    IMessageStore* Store() override { return m_store.IsOpen() ? &m_store : nullptr; }
    // The text of a processed message, read from the store when it waits there.
    std::string MessageText(const CMailRecord& record);

    // ---- filtering (HubFilter.cpp) ---------------------------------------------
    CRuleSet& Rules() { return m_rules; }
    CPlugIns& PlugIns() { return m_plugIns; }
    CAnalysis& Analysis() { return m_analysis; }
    // The session's records, with its server and USER line for the plug-ins;
    // without a session the rule file and plug-ins are only reloaded. A
    // session of the proxy's list is not waited for: false while its
    // plug-ins work, and the proxy hears of the end (AnalysisSettled); any
    // other session is analysed to the end at once.
    bool AnalyseMessages(CSession* session) override;
    // Nothing is prepared while the analysis is off.
    void PrepareAnalysis(CSession* session, CMailRecord* record) override;
    bool Prepared(const CMailRecord& record) const override { return m_analysis.Prepared(record); }
    void PrepareAnalysis(CMailRecord* record) { PrepareAnalysis(nullptr, record); }
    int32_t AnalyseBody(CMailRecord* record);
    void LoadRuleFile();
    bool SaveRuleFile();
    int32_t ExtractHeaders(CMailRecord* record, int32_t row);
    void RemoveSeparators(std::string& text, bool alsoSpaces);
    void MatchHeaderRules(CMailRecord* record, std::string text, RuleList& list,
                          const std::string& label, int32_t row, bool stripSeparators);
    int32_t FindBodyRule(std::string text, CMailRecord* record, RuleList& list, bool stripSeparators);
    void MarkAsSpam(CMailRecord* record, int32_t row, const std::string& label);
    void LoadPlugIns();
    bool RunPlugIns(CMailRecord* record, RuleList& bodyRules, CSession* session);

    // ---- the user's corrections and the history (HubLearning.cpp) ------------
    // The user says `record` is spam or not: the rows that show it and its
    // kept copy say so, and every loaded plug-in that can learn is taught its
    // text as the server sent it, on the worker threads; each engine's answer
    // is logged when it comes. The delivered mail is not changed.
    void CorrectVerdict(const CMailRecord& record, bool spam);
    // The text the plug-ins learn from: the message as the server sent it.
    std::string LearningText(const CMailRecord& record);
    // Corrections whose engines have not answered yet.
    int32_t LearningUnderWay() const { return m_nLearning; }
    // The rule of the rule file that made `record` spam; empty when none
    // did (a plug-in's verdict, or not spam).
    std::string CaughtByRule(const CMailRecord& record) const;
    // The sender's address, as TRUST: would hold it.
    static std::string SenderAddress(const CMailRecord& record);
    // Adds the sender's address to TRUST: and saves the rule file; false
    // (with a log line) when it has no address or the file cannot be written.
    bool TrustSender(const CMailRecord& record);
    // The kept messages, on the server or no longer, as the store lists them.
    std::vector<SKeptMessage> History(const SKeptQuery& query);
    // The kept record of `message` with its text.
    bool OpenKept(const SKeptMessage& message, CMailRecord& out);

private:
    // Goes on with a session's run; false when it waits for the plug-ins
    // again (it is then kept until they have answered).
    bool ContinueAnalysis(int32_t number, std::unique_ptr<SAnalysisRun> run);
    // The plug-ins a run of session `number` waited for have answered.
    void OnPlugInsSettled(int32_t number);

    static intptr_t WindowSendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam);

    CSettings m_settings;
    bool m_bAnalysisOff = false;
    bool m_bDebug = false;
    bool m_bIconPending = true;
    std::function<void(const std::string&, const std::string&)> m_messageBox;
    std::function<void(const std::string&)> m_listenFailureBox;
    std::string m_strSettingsPath;

    // The activity log first: every other part may log while it is destroyed.
    CLogWriter m_logWriter{m_settings.m_nMaxLogSize};
    OrvelaneWindow m_window{};
    uint32_t m_nSetLogMessage = 0;
    CMailListModel m_mailList;
    CConnectionListModel m_connections;
    CProgressModel m_progress;
    CTrayModel m_tray;
    std::string m_strCaption;

    // The one decoder (logging through this object) and the one text-operation
    // object, which the filter components share.
    CMailDecoder m_mailDecoder{this};
    CTextTools m_textTools;
    CRuleSet m_rules{*this};
    CPlugIns m_plugIns{*this, m_settings, m_mailDecoder, m_textTools};
    CAnalysis m_analysis{*this, m_settings, m_mailList, m_rules, m_plugIns, m_mailDecoder, m_textTools};

    CMessageStore m_store{*this};
    // The runs that wait for the plug-ins, by session number.
    std::map<int32_t, std::unique_ptr<SAnalysisRun>> m_runs;
    int32_t m_nLearning = 0;
    // The history's From and Subject as shown, by account and UIDL.
    std::map<std::string, std::pair<std::string, std::string>> m_shownHeaders;

    // Declared last: destroyed first, while its sessions can still report.
    CProxyServer m_proxy{*this};
};
