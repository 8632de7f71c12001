// The hub: owns the settings, the activity log, the sessions, the processed
// mails, the rule set, the plug-ins and the text-operation objects, and offers
// the operations every subsystem works through. The windows in ui/ draw its
// models and forward the user's actions to its handlers; the hub itself never
// touches a widget, so the whole proxy and analysis run without a display.
//
// Member functions are defined in the .cpp of the subsystem they belong to.
#pragma once

#include "filter/PlugIn.h"
#include "orvelane/plugin.h"
#include "proxy/OwnedList.h"
#include "proxy/Session.h"
#include "shell/ActivityLog.h"
#include "shell/Models.h"
#include "shell/Settings.h"

#include <QObject>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

class CClientSocket;

class CMainDialog : public QObject, public CSettings
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
    void AddLog(std::string text, bool truncate);
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

    // ---- decoding members ---------------------------------------------------------

    // ---- filtering members --------------------------------------------------------
    // Runs the whole analysis over the session's downloaded messages: reloads
    // the rule file and the plug-ins, then filters, marks and lists each one.
    void AnalyseMessages(CSession* session);
    // The rule set: nine lists, in file order, entries upper case.
    OwnedList<std::string> m_fromList;
    OwnedList<std::string> m_toList;
    OwnedList<std::string> m_ccList;
    OwnedList<std::string> m_bodyList;
    OwnedList<std::string> m_bodyHtmlList;
    OwnedList<std::string> m_subjectList;
    OwnedList<std::string> m_retPathList;
    OwnedList<std::string> m_trustList;
    OwnedList<std::string> m_relayList;
    int32_t m_nNbrTo = -1; // recipients from which a message is spam; -1 = off
    int32_t m_nNbrCc = -1;
    std::string m_strRuleFilePath;
    // The loaded plug-ins, in the order of m_plugInNames.
    OwnedList<CPlugIn> m_plugIns;

private:
    static intptr_t WindowSendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam);
    OrvelaneWindow m_window{};
    uint32_t m_nSetLogMessage = 0;
};
