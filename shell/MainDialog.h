// The hub: owns the settings, the activity log, the sessions, the processed
// mails, the rule set, the plug-ins and the text-operation objects, and offers
// the operations every subsystem works through. The windows in ui/ draw its
// models and forward the user's actions to its handlers; the hub itself never
// touches a widget, so the whole proxy and analysis run without a display.
//
// Member functions are defined in the .cpp of the subsystem they belong to.
#pragma once

#include "base/LogSink.h"
#include "base/Models.h"
#include "base/OwnedList.h"
#include "decode/HeaderExtraction.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/Analysis.h"
#include "filter/PlugIns.h"
#include "filter/RuleSet.h"
#include "orvelane/plugin.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "shell/ActivityLog.h"
#include "shell/Settings.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CClientSocket;

class CMainDialog : public QObject, public IProxyHost, public CSettings
{
    Q_OBJECT
public:
    explicit CMainDialog(QObject* parent = nullptr);
    ~CMainDialog() override;

    // ---- start-up ---------------------------------------------------------------
    // The start-up sequence: settings, listener, self-test, window furniture.
    bool OnInitDialog();
    // Locates and reads Orvelane.ini (current directory, then the
    // configuration folder, which then becomes the current directory).
    void ReadSettings();
    void ToggleDebug(bool enable);

    // ---- activity log -------------------------------------------------------------
    void AddLog(std::string text, bool truncate) override;
    // "Set Log": copies the NUL-terminated text at lParam into the log.
    void OnSetLog(uintptr_t wParam, intptr_t lParam);
    // The window handle handed to plug-ins, and the number of "Set Log".
    OrvelaneWindow* WindowHandle() { return &m_window; }
    uint32_t SetLogMessage() const { return m_nSetLogMessage; }
    // Registers a window message by name; the same name gives the same number.
    static uint32_t RegisterWindowMessage(const std::string& name);

    // ---- tray icon ----------------------------------------------------------------
    void SetTrayIcon(bool busy, bool forceAdd) override;

    // ---- proxy ---------------------------------------------------------------------
    CProxyServer& Proxy() { return m_proxy; }
    const CProxyServer& Proxy() const { return m_proxy; }
    void OpenListener() { m_proxy.OpenListener(); }
    void OnClientAccept() { m_proxy.OnClientAccept(); }
    void OnSocketClose(IConnection* socket) { m_proxy.OnSocketClose(socket); }
    void OnSocketReceive(IConnection* socket) { m_proxy.OnSocketReceive(socket); }
    void OnTimer(int32_t id) { m_proxy.OnTimer(id); }
    void CompleteScan(CSession* session) { m_proxy.CompleteScan(session); }
    bool ReceiveAll(IConnection* socket, std::string& text, bool fromClient, int32_t index)
    {
        return m_proxy.ReceiveAll(socket, text, fromClient, index);
    }
    void SendToServer(CSession* session, const char* bytes, int32_t length, bool truncate)
    {
        m_proxy.SendToServer(session, bytes, length, truncate);
    }
    void SendToClient(CSession* session, const char* bytes, int32_t length, bool truncate)
    {
        m_proxy.SendToClient(session, bytes, length, truncate);
    }
    CSession* SessionOfSocket(const IConnection* socket, int32_t* index = nullptr)
    {
        return m_proxy.SessionOfSocket(socket, index);
    }
    CMailRecord* RecordAt(CSession* session, int32_t n) { return m_proxy.RecordAt(session, n); }
    int32_t NextMessageToDownload(CSession* session) { return m_proxy.NextMessageToDownload(session); }
    CMailRecord* ProcessedMailByUidl(const std::string& uidl) { return m_proxy.ProcessedMailByUidl(uidl); }

    // ---- host of the proxy ---------------------------------------------------------
    const CSettings& Settings() const override { return *this; }
    bool Debug() const override { return m_bDebug; }
    bool AnalysisOff() const override { return m_bAnalysisOff; }
    CProgressModel& Progress() override { return m_progress; }
    CConnectionListModel& Connections() override { return m_connections; }
    void MailCheckStarted() override;
    void ShowStartupMessage(const std::string& text, const std::string& caption) override;

    // ---- state --------------------------------------------------------------------
    bool m_bAnalysisOff = false;
    bool m_bDebug = false;
    bool m_bIconPending = true;
    // Window furniture.
    CActivityLog m_log;
    CMailListModel m_mailList;
    CConnectionListModel m_connections;
    CProgressModel m_progress;
    CTrayModel m_tray;
    std::string m_strCaption;

    // Echo of every log entry on standard output (UTF-8). Tests switch it off.
    bool m_bEchoLog = true;
    // Clock of the log stamps; tests pin it.
    std::function<std::tm()> m_clock;
    // Start-up message (text, caption); without it the text goes to stderr.
    std::function<void(const std::string&, const std::string&)> m_messageBox;

    // ---- filtering ------------------------------------------------------------
    // The rule set, the plug-ins and the analysis do the work; the hub keeps
    // the operations under their names.
    CRuleSet& Rules() { return m_rules; }
    CPlugIns& PlugIns() { return m_plugIns; }
    CAnalysis& Analysis() { return m_analysis; }
    // The session's records, with its server and USER line for the plug-ins;
    // without a session the rule file and plug-ins are only reloaded.
    void AnalyseMessages(CSession* session) override;
    int32_t AnalyseBody(CMailRecord* r) { return m_analysis.AnalyseBody(r); }
    // Nothing is prepared while the analysis is off.
    void PrepareAnalysis(CMailRecord* r) override
        { if (!m_bAnalysisOff) m_analysis.PrepareAnalysis(r); }
    void LoadRuleFile() { m_rules.Load(); }
    bool SaveRuleFile() { return m_rules.Save(); }
    int32_t ExtractHeaders(CMailRecord* r, int32_t row)
        { return m_analysis.ExtractHeaders(r, row); }
    void RemoveSeparators(std::string& text, bool alsoSpaces)
        { CAnalysis::RemoveSeparators(text, alsoSpaces); }
    void MatchHeaderRules(CMailRecord* r, std::string text, RuleList& list, const std::string& label,
                          int32_t row, bool strip)
        { m_analysis.MatchHeaderRules(r, std::move(text), list, label, row, strip); }
    int32_t FindBodyRule(std::string text, CMailRecord* r, RuleList& list, bool strip)
        { return m_analysis.FindBodyRule(std::move(text), r, list, strip); }
    void MarkAsSpam(CMailRecord* r, int32_t row, const std::string& label)
        { m_analysis.MarkAsSpam(r, row, label); }
    void LoadPlugIns() { m_plugIns.Load(); }
    bool RunPlugIns(CMailRecord* r, RuleList& bodyRules, CSession* session);
    // The start-up self-test: analyses mail.txt of the configuration folder.
    void RunSelfTest();

private:
    void ScheduleLogFlush();
    // Runs FlushOutput when the event loop is about to wait.
    void HookBeforeWaiting();
    void FlushOutput();
    bool m_bFlushPending = false;
    bool m_bFlushHooked = false;
    static intptr_t WindowSendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam);
    OrvelaneWindow m_window{};
    uint32_t m_nSetLogMessage = 0;

    // ---- filtering ------------------------------------------------------------
    // The one decoder, logging through AddLog of this object, and the one
    // text-operation object; the components below work with them.
    CMailDecoder m_mailDecoder{this};
    CTextTools m_textTools;
    CRuleSet m_rules{*this};
    CPlugIns m_plugIns{*this, *this, m_mailDecoder, m_textTools};
    CAnalysis m_analysis{*this, *this, m_mailList, m_rules, m_plugIns, m_mailDecoder, m_textTools};

    // Declared last: destroyed first, its sessions still report to the hub.
    CProxyServer m_proxy{*this};
};
