// One mail-client connection: its two connections, relay state and scan data,
// and the records of its mailbox.
#pragma once

#include "proxy/AnswerTracker.h"
#include "base/MailRecord.h"
#include "base/OwnedList.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class CClientSocket;
class QTimer;

// Relay states of a session.
enum : int32_t {
    kStateRelay = 0,
    kStateStatWait = 1,
    kStateCapaWait = 2,
    kStateListWait = 16,
    kStateDownload = 256,
    kStateServing = 4096,
    kStateUidlWait = 4352,
};

// The client command that started a scan: its answer comes when the scan ends.
enum class ScanTrigger { kStat, kList, kOther };

// Where a client login by AUTH stands.
enum class AuthStep { kNone, kLoginUser, kLoginPassword, kPlain };

class CSession
{
public:
    CSession();
    virtual ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Closes the client connection, then the server connection, and forgets both.
    void CloseConnections();

    std::unique_ptr<CClientSocket> m_pServer;
    std::unique_ptr<CClientSocket> m_pClient;
    std::string m_strServerHost;
    int32_t m_nServerPort = 110;
    std::string m_strListAnswer;
    std::string m_strUidlAnswer;
    std::string m_strClientAddress;
    int32_t m_nMessageCount = 0;
    int32_t m_nMailboxSize = 0;
    int32_t m_nState = kStateRelay;
    OwnedList<CMailRecord> m_messages;
    int32_t m_nCurrentMessage = 0;
    bool m_bGreetingPending = true;
    bool m_bAnswerAsList = true;
    std::string m_strUserCommand;
    int32_t m_nNumber = 0;
    bool m_bTimerArmed = false;
    bool m_bTimerFired = false;
    bool m_bQuiet = false;

    // ---- beyond the relay's own tables ----
    // Is a scan running (StatWait, ListWait, UidlWait or Download)?
    bool Scanning() const;
    // The account key of processed copies: host (lower case), port, user name.
    std::string Account() const;

    std::string m_strUserName;        // user name of the login, for the account key
    std::deque<std::string> m_clientLines; // client lines waiting for their turn
    CAnswerTracker m_answers;         // server answers still owed to relayed lines
    AuthStep m_nAuthStep = AuthStep::kNone;
    std::string m_strAuthUser;        // AUTH LOGIN: the decoded user name so far
    std::string m_strPassCommand;     // AUTH: "PASS ...\r\n" sent once USER is accepted
    bool m_bScanStarted = false;      // a scan was started since the login
    ScanTrigger m_nScanTrigger = ScanTrigger::kStat;
    std::string m_strTriggerLine;     // RETR/TOP that started the scan, answered after it
    bool m_bRetrStatusPending = false; // the next server data opens a retrieval answer
    std::unique_ptr<QTimer> m_pGraceTimer;   // the download wait (2000 ms)
    std::unique_ptr<QTimer> m_pSilenceTimer; // the server's silence limit during a scan
    // The server's capabilities, asked once per login before the first scan.
    bool m_bCapaKnown = false;
    bool m_bPipelining = false;       // its CAPA answer lists PIPELINING
    std::string m_strCapaAnswer;
    // Pipelined retrievals: the messages whose RETR is sent and whose answer
    // has not ended yet (the front one is being read), the next message to
    // ask for, and a status line still missing its end.
    std::deque<int32_t> m_pipeline;
    int32_t m_nNextRequest = 1;
    std::string m_strRetrStatus;
};
