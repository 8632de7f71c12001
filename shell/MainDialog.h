// The hub: owns the settings, the activity log, the sessions, the processed
// mails, the rule set, the plug-ins and the text-operation objects, and offers
// the operations every subsystem works through. The windows in ui/ draw its
// models and forward the user's actions to its handlers; the hub itself never
// touches a widget, so the whole proxy and analysis run without a display.
//
// Member functions are defined in the .cpp of the subsystem they belong to.
#pragma once

#include "decode/HeaderExtraction.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/Analysis.h"
#include "filter/PlugIns.h"
#include "filter/RuleSet.h"
#include "orvelane/plugin.h"
#include "base/OwnedList.h"
#include "proxy/Session.h"
#include "shell/ActivityLog.h"
#include "base/LogSink.h"
#include "base/Models.h"
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

class CMainDialog : public QObject, public ILogSink, public CSettings
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
    void SetTrayIcon(bool busy, bool forceAdd);

    // ---- lookups on the tables ----------------------------------------------------
    // Session holding `socket` as client or server connection, with its
    // position counted from 1 in *index.
    CSession* SessionOfSocket(const CClientSocket* socket, int32_t* index = nullptr);
    int32_t SessionIndex(const CSession* session) const;
    CSession* SessionByNumber(int32_t number);
    // The n-th record of a session (1-based), or null.
    CMailRecord* RecordAt(CSession* session, int32_t n);
    // 1 + the number of records downloaded without a gap from the first.
    int32_t NextMessageToDownload(CSession* session);
    CMailRecord* ProcessedMailByUidl(const std::string& uidl);

    // ---- state --------------------------------------------------------------------
    bool m_bAnalysisOff = false;
    bool m_bDebug = false;
    bool m_bIconPending = true;
    int32_t m_nLastSessionNumber = 0;
    OwnedList<CSession> m_sessions;
    OwnedList<CMailRecord> m_processedMails;

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

    // ---- proxy members ------------------------------------------------------------
    // Listener and connections (proxy/Listener.cpp).
    // Opens the listener on ListenPort/ListenAddress; on failure logs it and
    // shows the start-up message (standard error without a window).
    void OpenListener();
    void OnClientAccept();
    void OnSocketClose(CClientSocket* socket);
    // The outgoing server connection is open (or could not be opened).
    void OnServerConnected(CClientSocket* socket, bool connected);
    // Bytes arrived on a connection (before they make a unit).
    void OnSocketBytes(CClientSocket* socket);
    // Closes both connections of a session, removes it and logs
    // "N°%d Déconnecté" with its position, as a disconnection does.
    void DisconnectSession(CSession* session);

    // Transfers (proxy/Transfer.cpp). ReceiveAll hands over the connection's
    // complete unit; false when there is none or no connection.
    bool ReceiveAll(CClientSocket* socket, std::string& text, bool fromClient, int32_t index);
    void SendToServer(CSession* session, const char* bytes, int32_t length, bool truncate);
    void SendToClient(CSession* session, const char* bytes, int32_t length, bool truncate);
    // A whole text, one-line flag clear.
    void SendToServer(CSession* session, const std::string& text);
    void SendToClient(CSession* session, const std::string& text);
    // The connection has output waiting: it is handed to the system when
    // the event loop is about to wait.
    void FlushBeforeWaiting(CClientSocket* socket);

    // The relay (proxy/Relay.cpp).
    void OnSocketReceive(CClientSocket* socket);

    // Scan, download and hand-off (proxy/Scan.cpp, proxy/Download.cpp).
    void OnTimer(int32_t id);
    void CompleteScan(CSession* session);

    // Owned as a child object of the hub; null until OpenListener.
    class CListenSocket* m_pListenSocket = nullptr;
    // The download wait after an early closing line, and how long the
    // server may stay silent while the proxy scans its mailbox.
    int32_t m_nGraceMs = 2000;
    int32_t m_nSilenceMs = 60000;
    // Bytes one retrieval may bring before the session is ended: message
    // sizes are 32-bit counts.
    int32_t m_nMaxRetrieval = 0x7FFFFF00;
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
    void AnalyseMessages(CSession* session);
    int32_t AnalyseBody(CMailRecord* r) { return m_analysis.AnalyseBody(r); }
    // Nothing is prepared while the analysis is off.
    void PrepareAnalysis(CMailRecord* r)
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
    std::vector<QPointer<CClientSocket>> m_pendingSockets;
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
};
