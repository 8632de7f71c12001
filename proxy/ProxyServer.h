// The proxy: the listener, the sessions of the connected mail clients, the
// copies of messages analysed before, and the look-ups over them. It reaches
// the rest of the program only through its host.
#pragma once

#include "base/MailRecord.h"
#include "base/MessageStore.h"
#include "base/OwnedList.h"
#include "proxy/ProxyHost.h"
#include "proxy/Session.h"

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class CClientSocket;
class CListenSocket;

// Why the listener could not open: the port is taken, it needs a privilege
// (a port below 1024), the address is not one of this machine, or else.
enum class EListenFailure { kNone, kInUse, kPrivileged, kAddress, kOther };

class CProxyServer : public QObject
{
    Q_OBJECT
public:
    explicit CProxyServer(IProxyHost& host, QObject* parent = nullptr);
    ~CProxyServer() override;

    IProxyHost& Host() { return m_host; }
    void AddLog(std::string text, bool truncate) { m_host.AddLog(std::move(text), truncate); }
    bool Debug() const { return m_host.Debug(); }
    const CSettings& Settings() const { return m_host.Settings(); }

    // ---- listener and connections ----
    // Opens the listener on ListenPort/ListenAddress; on failure logs it and
    // shows the start-up message.
    void OpenListener();
    // The port listened on (0 before OpenListener or when it failed).
    uint16_t Port() const;
    bool Listening() const;
    // The address listened on, as the settings give it (the loopback
    // address when they give none), and why listening failed.
    std::string ListenAddress() const;
    std::string ListenError() const;
    EListenFailure ListenFailure() const { return m_nListenFailure; }
    // Listens where the settings say now, in place of the listener open
    // before; the sessions go on. On failure the listener before stays (or
    // is opened again at `previousAddress` and `previousPort` when it had to
    // let the port go first), the failure is logged, and no message box is
    // shown: the caller says why. The listening lines are logged on success.
    bool ReopenListener(const std::string& previousAddress, int32_t previousPort);
    void OnClientAccept();
    // A connection of a session closed: the session ends.
    void OnSocketClose(IConnection* socket);
    // A new, unopened connection to a POP3 server.
    std::unique_ptr<IConnection> MakeServerConnection();
    // Closes both connections of a session, removes it and logs
    // "N°%d Déconnecté" with its position, as a disconnection does.
    void DisconnectSession(CSession* session);
    // Ends a session whose server connection could not be opened: no
    // disconnection line, the failure line says what happened.
    // With `tlsReason`, the client's answer is that TLS failed and why.
    void EndAfterConnectFailure(CSession* session, const char* tlsReason = nullptr);
    // Ends a session that never reached its server as EndAfterConnectFailure
    // does, with `answer` for the client.
    void EndWithAnswer(CSession* session, const std::string& answer);
    // Closes every session in list order, logging "N°%d Déconnecté" with
    // 1, 2, 3, ...; the icon is left to the caller.
    void DisconnectAll();

    // ---- servers that offered STLS or spoke TLS (ServerSecurity.cpp) ----
    // Remembered for this run, and in the store when there is one: with
    // ServerSecurity=auto no credential goes to them in clear again.
    bool KnownTlsServer(const std::string& server);
    void NoteTlsServer(const std::string& server);

    // ---- transfers ----
    // Hands over the connection's complete unit; false when there is none
    // or no connection.
    bool ReceiveAll(IConnection* socket, std::string& text, bool fromClient, int32_t index);
    void SendToServer(CSession* session, const char* bytes, int32_t length, bool truncate);
    void SendToClient(CSession* session, const char* bytes, int32_t length, bool truncate);
    // A whole text, one-line flag clear.
    void SendToServer(CSession* session, const std::string& text);
    void SendToClient(CSession* session, const std::string& text);
    // The connection has output waiting: it is handed to the system when
    // the event loop is about to wait.
    void FlushBeforeWaiting(CClientSocket* socket);

    // ---- relay, scan and hand-off ----
    // A unit is complete on a connection: its session handles it.
    void OnSocketReceive(IConnection* socket);
    // The download wait of session number `id` is over.
    void OnTimer(int32_t id);
    // The client of session number `number` has said nothing past the idle limit.
    void OnClientIdle(int32_t number);
    // Session number `number` has waited on its server past the silence limit.
    void OnServerSilent(int32_t number);
    void CompleteScan(CSession* session);
    // ScanAnswerSeconds have passed for session number `number`.
    void OnScanAnswerDue(int32_t number);
    // Drops the copies the session's last scan added, in memory and in the store.
    void ForgetCopies(CSession* session);

    // ---- what is kept of a scan (Keeping.cpp) ----
    // The store of analysed messages; null when there is none.
    IMessageStore* Store();
    // The record is one the store may keep: a UIDL of its own, and a store.
    bool Keeps(const CMailRecord& record);
    // The listing is in: messages analysed (or downloaded) before take their
    // copy from memory or from the store, and the store forgets what the
    // server no longer lists.
    void ReuseKept(CSession* session);
    // A download has ended: past the bound of text held, the finished
    // messages are analysed, kept and their texts left to the store.
    // Otherwise, once enough of them are prepared, these are analysed and
    // kept while the others come (see AnalysePrepared).
    void KeepDownload(CSession* session, CMailRecord* record);
    // The session ends: its downloads not analysed yet are kept as they
    // came, so that the next scan resumes where this one stopped (not after
    // a protocol error).
    void KeepUnfinished(CSession* session);
    // Analyses the messages that have arrived and not been analysed, then
    // keeps them; with `release` their texts wait in the store. `always`
    // runs the analysis (which reloads the rules) even with nothing new.
    // kWaiting while a run of the session waits for the plug-ins (this one
    // or an earlier one); kEnded when the session ended meanwhile.
    enum class EAnalysed { kDone, kWaiting, kEnded };
    // At most `limit` messages are taken, the first ones in the mailbox's
    // order; the others wait for a later run.
    EAnalysed AnalyseFinished(CSession* session, bool always, bool release, size_t limit = SIZE_MAX);
    // The session's analysis that waited for the plug-ins has ended: its
    // messages are kept, and what waited for it goes on.
    void AnalysisSettled(CSession* session);
    // The text the client is sent for `record`: its own, or read from the
    // store into `holder` when it waits there. False when the store no
    // longer has it.
    bool TextOf(const CMailRecord& record, std::string& holder, std::string_view& text);
    // Hands memory the allocator keeps for later back to the system.
    static void ReturnFreeMemory();

    // ---- look-ups ----
    // Session holding `socket` as client or server connection, with its
    // position counted from 1 in *index.
    CSession* SessionOfSocket(const IConnection* socket, int32_t* index = nullptr);
    int32_t SessionIndex(const CSession* session) const;
    CSession* SessionByNumber(int32_t number);
    // The session is still open (in the list under its number).
    bool Alive(const CSession* session, int32_t number) const;
    // The record of a session's message number n (the server's number, which
    // is the client's too), or null.
    CMailRecord* RecordAt(CSession* session, int32_t n);
    // 1 + the number of records downloaded without a gap from the first.
    int32_t NextMessageToDownload(CSession* session);
    CMailRecord* ProcessedMailByUidl(const std::string& uidl);
    // The processed copy that `record`, listed for `account`, may reuse: one
    // of the same account, UIDL and listed size (a message changed on the
    // server under its UIDL is downloaded again). None for a record without
    // a UIDL of its own.
    CMailRecord* ReusableCopy(const CMailRecord& record, const std::string& account);

    OwnedList<CSession> m_sessions;
    OwnedList<CMailRecord> m_processedMails;
    int32_t m_nLastSessionNumber = 0;
    // The download wait after an early closing line, and how long the
    // server may stay silent while the proxy waits on it.
    int32_t m_nGraceMs = 2000;
    int32_t m_nSilenceMs = 60000;
    // How long a mail client may say nothing (RFC 1939's autologout is at
    // least ten minutes).
    int32_t m_nIdleMs = 600000;
    // The longest line a mail client may send.
    static constexpr size_t kMaxClientUnit = 65536;
    // Bytes one retrieval may bring before the session is ended: message
    // sizes are 32-bit counts.
    int32_t m_nMaxRetrieval = 0x7FFFFF00;
    // With a pipelining server: the listed bytes of the RETRs outstanding at
    // most (one is always asked for, whatever its size).
    int64_t m_nPipelineBytes = int64_t(4) << 20;
    // Message text a session holds in memory before the messages finished
    // so far are analysed and their texts left to the store.
    int64_t m_nHeldTextBytes = int64_t(32) << 20;
    // Prepared text that is analysed and kept during the download, in one
    // run, once this much of it waits (and a 64th of the mailbox at least):
    // the answer after the last message then waits only for the rest.
    int64_t m_nEarlyBatchBytes = int64_t(512) << 10;
    // Makes the server connections; empty: network sockets. Tests hand
    // sessions connections kept in memory.
    std::function<std::unique_ptr<IConnection>()> m_makeServerConnection;

private:
    void AnalysePrepared(CSession* session);
    void FlushPending();
    void Keep(CSession* session, const std::vector<CMailRecord*>& analysed, bool release);
    // The records of the session's run are analysed: marked so and kept.
    void FinishAnalysis(CSession* session);
    // A processed copy of `record` for later scans (without the text when
    // the store has it), replacing copies of its earlier forms.
    void AddCopy(CSession* session, CMailRecord* record, bool textStored);

    // Listens with `socket` where the settings say; notes why it failed.
    bool Listen(CListenSocket& socket);
    void LogListening();
    std::string ListenFailedLine() const;

    IProxyHost& m_host;
    // A child object; null until OpenListener.
    CListenSocket* m_pListenSocket = nullptr;
    EListenFailure m_nListenFailure = EListenFailure::kNone;
    std::string m_strListenError;
    bool m_bFlushHooked = false;
    std::vector<QPointer<CClientSocket>> m_pendingSockets;
    std::set<std::string> m_tlsServers;
};
