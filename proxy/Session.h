// One mail-client connection (CSession) and one message of a mailbox
// (CMailRecord).
#pragma once

#include "proxy/AnswerTracker.h"
#include "proxy/OwnedList.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class CPrepareJob;
class CClientSocket;
class QTimer;

class CMailRecord
{
public:
    int32_t m_nListedSize = 0; // size in the server's LIST answer
    int32_t m_nReceived = 0;   // bytes stored so far during the download
    int32_t m_nSize = 0;       // size the mail client is told; follows every rewrite
    std::string m_strReturnPath;
    std::string m_strFrom;
    std::string m_strTo;
    std::string m_strCc;
    std::string m_strSubject;
    std::string m_strSpamType;
    std::string m_strFilterLabel;
    std::string m_strRuleText;
    std::string m_strRelays;
    bool m_bSpam = false;
    std::string m_strUidl;
    bool m_bAnalysed = false;
    bool m_bTrusted = false;
    int32_t m_nToCount = 0;
    int32_t m_nCcCount = 0;
    int32_t m_nClientNumber = 0;
    // The account the message was listed for (server host, port and user);
    // processed copies are reused only by the same account.
    std::string m_strAccount;
    // The server refused the retrieval: the message is left to the server
    // and the client's RETR and TOP for it are relayed.
    bool m_bRelayed = false;
    // The message text. Only the bytes that really arrived are held (never an
    // announced size); c_str() provides the terminating zero byte that the
    // text operations rely on.
    std::string m_pszText;
    // The analysis prepared in the background since the download ended;
    // the analysis collects it or drops it (see filter/PrepareWorker.h).
    std::shared_ptr<CPrepareJob> m_pPrepareJob;

    // Downloaded: a text is present and does not begin with a zero byte.
    bool IsDownloaded() const { return !m_pszText.empty() && m_pszText[0] != '\0'; }

    // Copies size, received count, the first m_nSize bytes of text, the header
    // values, labels, UIDL and the three flags; keeps the listed size, relays,
    // recipient counts and client number of this record.
    void assignFrom(const CMailRecord& other);
};

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
