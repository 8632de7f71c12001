// One mail-client connection: its two connections, relay state and scan data,
// and the records of its mailbox.
#pragma once

#include "base/MailRecord.h"
#include "base/OwnedList.h"
#include "proxy/AnswerTracker.h"
#include "proxy/Connection.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CProxyServer;
namespace pop3 {
struct AnswerCut;
}
struct CUserLine;
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

// What a download step did with the bytes of a retrieval.
// kGrace: the closing line came early and the wait is armed; kEnded: the
// session is gone.
enum class Stored { kPartial, kGrace, kComplete, kEnded };

// How an answer of the server breaks the protocol: its status line begins
// with neither "+OK" nor "-ERR", a line or answer has no end within its
// bound, bytes arrive when no answer is owed, or a second status line
// stands where a message or listing should begin (an unasked one came
// before the answer, which would pass for the next answer's text).
enum class Breach { kNotStatus, kTooLong, kUnowed, kDoubleStatus };

// Where a client login by AUTH stands.
enum class AuthStep { kNone, kLoginUser, kLoginPassword, kPlain };

// A mail client's connection and everything the proxy does for it: the login,
// the relay of its commands, the scan of its mailbox, the download, and the
// answers served from the stored copies. Any step may end the session (the
// proxy destroys it), so a caller that goes on after a step checks that the
// session is still alive.
class CSession : public IConnectionEvents
{
public:
    explicit CSession(CProxyServer& proxy);
    virtual ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Closes the client connection, then the server connection, and forgets both.
    void CloseConnections();
    // Is a scan running (StatWait, CapaWait, ListWait, UidlWait or Download)?
    bool Scanning() const;
    // The account key of processed copies: host (lower case), port, user name.
    std::string Account() const;

    // What entering a state starts afresh: nothing, a scan, or a login.
    enum class EFresh { kNothing, kScan, kLogin };
    void EnterState(int32_t state, EFresh fresh = EFresh::kNothing);

    // ---- events from the two connections ----
    void OnConnected(IConnection* connection, bool ok) override;
    void OnBytes(IConnection* connection) override;
    void OnUnit(IConnection* connection) override;
    void OnClosed(IConnection* connection) override;
    // Takes a connection and receives its events.
    void SetClient(std::unique_ptr<IConnection> connection);
    void SetServer(std::unique_ptr<IConnection> connection);

    // The unit of the client (or server) connection, with the session's
    // position in the proxy's list.
    void OnClientData(int32_t index);
    void OnServerData(int32_t index);
    // The server's silence limit while the proxy waits on it.
    void ArmSilence();
    void StopSilence();
    // Outside a scan: the limit runs while an answer to a relayed line is
    // owed, and stops when none is.
    void WatchAnswers();

    // ---- client side (Relay.cpp) ----
    // Handles the waiting client lines one at a time, while nothing the proxy
    // started is still unanswered.
    void ProcessClientLines();
    // Passes a client line to the server and expects its answer.
    void PassToServer(const std::string& line);
    // The scan is over: the command that started it gets its answer (the
    // STAT or LIST answer, or its own turn again for RETR and TOP).
    void AnswerScanTrigger();
    // The LIST answer of the records as the client sees them.
    std::string Listing() const;
    // The server broke the protocol: the scan is abandoned, no copy of it is
    // kept, the client is told why, and the session ends without QUIT (so the
    // server deletes nothing). The session is gone afterwards.
    void ProtocolError(Breach breach);
    // True for a whole answer; a broken one (not a status line, or past its
    // bound) ends the session, an incomplete one waits.
    bool AnswerWhole(const pop3::AnswerCut& cut);
    // Part of the answer the proxy waits on has arrived.
    bool AnswerBegun() const;
    // The client has been silent past the idle limit.
    void ClientIdle();

    // ---- the early answer of a long scan (ScanWindow.cpp) ----
    void StartScanAnswer();
    void StopScanAnswer();
    // ScanAnswerSeconds have passed since the scan began.
    void ScanAnswerDue();
    // Analyses what has arrived and answers the client with the messages
    // finished so far as its whole mailbox.
    void OpenWindow();
    // The answer to STAT: the messages the client sees, less those it deleted.
    std::string StatLine() const;

    // ---- encryption of the server connection (ServerSecurity.cpp) ----
    // Where the protection of the server connection stands: nothing left
    // to do before the login (plain, or implicit TLS), CAPA or STLS owed
    // once the server greets, their answers awaited, the STLS handshake.
    enum class Security { kSettled, kAskCapa, kRequireStls, kCapaSent, kStlsSent, kHandshake };
    Security m_nSecurity = Security::kSettled;
    std::string m_strHeldGreeting;    // the greeting, until the login may go out
    std::string m_strSecurityAnswer;  // the CAPA or STLS answer so far
    // The port when none is named: 995 for implicit TLS, else 110.
    int32_t DefaultServerPort() const;
    // Before Connect: the protection ServerSecurity asks for. False when
    // the session was ended (TLS cannot be had).
    bool ChooseSecurity();
    // The greeting came: true when CAPA or STLS go first and the login waits.
    bool HoldLoginForSecurity(const std::string& greeting);
    // An answer to CAPA or STLS is being read, or the handshake runs.
    bool SecurityPending() const;
    void SecurityAnswer(int32_t index, const std::string& text);
    void OnEncrypted(IConnection* connection, bool ok) override;
    // Logs the protocol and cipher of an encrypted server connection, and
    // remembers that the server speaks TLS.
    void LogEncryption();
    // The server as the memory of TLS servers knows it: "host:port".
    std::string TlsServerKey() const;
    // The login goes out: in clear to a server on another machine, the log
    // says so.
    void LogLoginInClear();
    // Ends the session like a failed connection, saying why TLS failed.
    void EndForTls(TlsFailure failure);

    std::unique_ptr<IConnection> m_pServer;
    std::unique_ptr<IConnection> m_pClient;
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
    std::string m_strUserName;        // user name of the login, for the account key
    std::deque<std::string> m_clientLines; // client lines waiting for their turn
    CAnswerTracker m_answers;         // server answers still owed to relayed lines
    AuthStep m_nAuthStep = AuthStep::kNone;
    std::string m_strAuthUser;        // AUTH LOGIN: the decoded user name so far
    std::string m_strPassCommand;     // AUTH: "PASS ...\r\n" sent once USER is accepted
    bool m_bScanStarted = false;      // a scan was started since the login
    ScanTrigger m_nScanTrigger = ScanTrigger::kStat;
    std::string m_strTriggerLine;     // LIST/RETR/TOP that started the scan, answered after it
    bool m_bRetrStatusPending = false; // the next server data opens a retrieval answer
    std::unique_ptr<QTimer> m_pGraceTimer;   // the download wait (2000 ms)
    std::unique_ptr<QTimer> m_pSilenceTimer; // the server's silence limit
    // The server's capabilities, asked once per login before the first scan.
    bool m_bCapaKnown = false;
    bool m_bPipelining = false;       // its CAPA answer lists PIPELINING
    bool m_bBatched = false;          // STAT, LIST and UIDL went out together
    std::string m_strCapaAnswer;
    // Pipelined retrievals: the messages whose RETR is sent and whose answer
    // has not ended yet (the front one is being read), the next message to
    // ask for, and a status line still missing its end.
    std::deque<int32_t> m_pipeline;
    int32_t m_nNextRequest = 1;
    std::string m_strRetrStatus;
    // The relayed DELE and RSET lines whose answers are still owed, in order:
    // the message number, 0 for RSET, -1 for a DELE that names no message.
    std::deque<int32_t> m_noted;
    // Answers of the scan being gathered: STAT's and the greeting.
    std::string m_strStatAnswer;
    std::string m_strGreeting;
    // The copies the last scan added to the proxy's processed mails: they
    // go when the server breaks the protocol later in the session.
    std::vector<const CMailRecord*> m_scanCopies;
    std::unique_ptr<QTimer> m_pIdleTimer; // the client's idle limit
    std::string m_strClientPartial;       // a client line still without its end

    // ---- what the scan keeps, and the answer a long scan gives early ----
    bool m_bUidlsListed = false;          // the server answered UIDL
    int64_t m_nUnanalysedBytes = 0;       // text downloaded and not analysed yet
    // An analysis run waits for the plug-ins: the records it analyses, whether
    // their texts then wait in the store, and what waits for its end (the
    // end of the scan, the early answer).
    bool m_bAnalysing = false;
    std::vector<CMailRecord*> m_analysing;
    bool m_bRulesRead = false; // a run of the scan read the rule file and the plug-ins
    // The leading messages found analysed (or relayed) outside any run: they
    // stay so, and the runs during the download look for work after them.
    int32_t m_nSettledCount = 0;
    bool m_bAnalysingRelease = false;
    bool m_bCompleteAfterAnalysis = false;
    bool m_bWindowAfterAnalysis = false;
    // UIDLs this scan wrote to the message store: they go with the copies
    // when the server breaks the protocol.
    std::vector<std::string> m_keptUidls;
    bool m_bKeepNothing = false;          // the scan broke the protocol
    std::unique_ptr<QTimer> m_pAnswerTimer; // ScanAnswerSeconds
    bool m_bAnswerDue = false;            // the time ran out before the download began
    // The client was answered before the scan's end: it sees the messages
    // finished then (server numbers up to m_nWindowLast) as its mailbox,
    // for the rest of the session, while the download goes on.
    bool m_bWindowed = false;
    int32_t m_nWindowLast = 0;
    // A client line needs the server while it downloads in the background:
    // nothing more is asked for, and the line waits for the answers owed.
    bool m_bDraining = false;

    // A single-shot timer that calls `handler` of the proxy with this
    // session's number.
    std::unique_ptr<QTimer> MakeTimer(void (CProxyServer::*handler)(int32_t));

private:
    // The proxy's transfers for this session, traced in the log.
    void SendToClient(const std::string& text);
    void SendToClient(const char* bytes, int32_t length, bool truncate);
    void SendToServer(const std::string& text);

    // ---- client lines (Relay.cpp) ----
    void HandleClientLine(const std::string& line);
    // The server answered the oldest noted DELE or RSET.
    void Noted(bool ok);
    // Lines before the server connection is open are answered here.
    void AnswerBeforeLogin(const std::string& line);

    // ---- login (LoginSteps.cpp) ----
    void UserHandling(const std::string& text);
    void AuthCommand(const std::string& line);
    void AuthContinuation(const std::string& line);
    void OpenServer(const CUserLine& user, std::string passCommand);
    // The server's name reads two ways: the log and the client say so, and
    // the session ends.
    void EndForAmbiguousName();
    void Login(const std::string& user, const std::string& password);
    void LoginPlain(const std::string& base64);
    void Greeting(int32_t index, const std::string& text);

    // ---- scan (Scan.cpp) ----
    void StartScan(ScanTrigger trigger, const std::string& line);
    // Adds `text` to the answer gathered in `buffer`: true once it is whole
    // and nothing follows it. A broken answer ends the session (false).
    // With `rest`, bytes after the answer are handed back there (the answer
    // to a command asked in the same write) instead of breaking the protocol.
    bool TakeScanAnswer(std::string& buffer, const std::string& text, bool multiLine, size_t maxLength,
                        std::string* rest = nullptr);
    // The STAT and LIST answers judged: false when the scan ends there
    // (refused, or an empty mailbox answered).
    bool StatAnswered();
    bool ListAnswered();
    void ScanStep(const std::string& text);
    void ScanRefused(const std::string& answer);
    void SendStat();
    void AnswerEmptyMailbox();
    void StartDownload(bool uidlRefused);
    // Asks for the next message still to download, or hands the scan over.
    void RequestNext();

    // ---- download (Download.cpp) ----
    void DownloadStep(const std::string& bytes);
    void ArmGrace();
    // Reads a retrieval's status line: the size it announces, or (not "+OK")
    // the refusal, logged, which leaves the message to the server.
    bool OpenAnswer(CMailRecord* record, int32_t n, std::string_view status);
    // Reads a retrieval's status line from the front of `rest` (which loses
    // it): Waiting until it is whole, Broken when the session ended over it.
    enum class StatusRead { kWaiting, kWhole, kBroken };
    StatusRead ReadRetrStatus(std::string_view& rest, std::string& status);
    // Adds message bytes of retrieval n to its record, with the size checks,
    // the progress and the status text; waits after an early closing line
    // only when `mayWait`.
    Stored StoreAnswerBytes(CMailRecord* record, int32_t n, std::string_view part, bool mayWait);

    // ---- pipelined retrievals (Pipeline.cpp) ----
    void StartPipeline();
    void PipelineStep(const std::string& bytes);
    void SendRetr(int32_t n);
    // Tops the window up, or hands the scan over; false when the download is over.
    bool Refill();
    // The front answer is over: the next one opens with a status line.
    bool NextAnswer();
    // The front answer is over and `rest` follows it: false (the session
    // ended) when no other RETR is outstanding to own those bytes.
    bool LastOwed(std::string_view rest);

    // ---- answers from the stored copies (Serving.cpp) ----
    // The record of message n as the client sees it: null when there is
    // none or the client deleted it.
    CMailRecord* VisibleRecord(int32_t n);
    void LocalList(const std::string& line);
    void LocalRetr(const std::string& line);
    void LocalTop(const std::string& line);
    // Sends the text of a served message (its first `lines` body lines
    // with `top`) after `status`; a text the store has lost gets -ERR.
    void SendStoredText(CMailRecord* record, int32_t n, const std::string& status, int32_t lines, bool top);

    // ---- a client answered early (ScanWindow.cpp) ----
    void WindowLine(const std::string& line);
    void LocalUidl(const std::string& line);
    // The line needs the server connection (not answered from the records).
    bool NeedsServer(const std::string& line);

    CProxyServer& m_proxy;
};
