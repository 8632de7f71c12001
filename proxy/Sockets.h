// The proxy's connections. CListenSocket waits for mail clients; each
// session holds two CClientSockets, the accepted mail-client connection and
// the outgoing connection to the POP3 server. Both are asynchronous: what
// the relay handles as one receive is one *unit*, the bytes gathered until a
// read chunk holds a line feed and is shorter than 102400 bytes, or until the
// stream ends. A connection reports to its session, a listener to the proxy,
// on the event-loop thread; nothing here ever waits.
#pragma once

#include "proxy/Connection.h"
#include "proxy/ProxyServer.h"

#include <QObject>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

class CProxyServer;
class QSocketNotifier;
class QSslError;
class QSslSocket;
class QTcpServer;
class QTcpSocket;

// The size of one read chunk, and the rule that ends a unit with a chunk:
// it holds a line feed and is shorter than a whole chunk. While a retrieval
// answer is read, a whole chunk that ends with the answer's closing line
// also ends the unit when nothing more is waiting (`unit` is the unit with
// the chunk appended).
inline constexpr int32_t kReadChunk = 102400;
// A unit whose last line runs past this without its end is handed on: no
// POP3 line of the server's (a status line, a capability, a listing line)
// is that long, and the bytes of a message line go on in pieces.
inline constexpr size_t kMaxUnitLine = size_t(128) << 10;
bool ChunkEndsUnit(std::string_view chunk);
bool ChunkEndsUnit(std::string_view chunk, std::string_view unit, bool retrieving, bool moreWaiting);

// Reads the system's trust store now (about 0.2 s): done at start-up when a
// certificate file is trusted besides it, rather than when the first
// session's connection needs it.
void LoadSystemTrust();

class CClientSocket : public QObject, public IConnection
{
    Q_OBJECT
public:
    // Takes `socket` (an accepted connection) or, without one, makes an
    // unopened socket for a later Connect. `proxy` hands buffered output to
    // the system before the event loop waits.
    explicit CClientSocket(CProxyServer& proxy, QTcpSocket* socket = nullptr);
    ~CClientSocket() override;

    void SetEvents(IConnectionEvents* events) override { m_pEvents = events; }
    void Connect(const std::string& host, uint16_t port) override;
    bool IsActive() const override;
    bool IsConnected() const override;
    // The bytes leave when the event loop is about to wait at the latest
    // (see Flush).
    bool Send(const char* data, int64_t length) override;
    // Hands what Send buffered to the system now, as far as it takes it.
    // May report the connection's end on the spot, so it is called only
    // where nothing up the call stack still uses the session.
    void Flush();
    // Stops the notifications and lets the connection go: pending output is
    // still delivered, then the socket is released.
    void Close() override;

    bool UnitReady() const override { return m_bUnitReady; }
    std::string TakeUnit(int32_t* chunks = nullptr) override;
    // While set, a full chunk that ends with the closing line of a
    // retrieval answer ends the unit when nothing more has arrived: a
    // retrieval whose last read fills the chunk exactly must not wait for
    // bytes the server will never send.
    void SetRetrieving(bool retrieving) override { m_bRetrieving = retrieving; }
    bool HoldsPartialUnit() const override { return !m_unit.empty() && !m_bUnitReady; }

    QTcpSocket* Socket() const { return m_pSocket; }
    // Past `limit` bytes without the end of a unit, the bytes are handed on
    // as they are (a mail client's lines are bounded far below a server's).
    void SetUnitLimit(size_t limit) { m_nMaxUnit = limit; }

    // ---- TLS of an outgoing connection (SocketTls.cpp) ----
    bool EncryptOnConnect(const TlsPeer& peer) override;
    bool StartEncryption(const TlsPeer& peer) override;
    TlsFailure EncryptionFailure() const override { return m_nTlsFailure; }
    std::string EncryptionDescription() const override;

private:
    // The outgoing socket with its certificate checks set for `peer`; null
    // (and the reason noted) when TLS cannot be had.
    QSslSocket* PrepareTls(const TlsPeer& peer);
    // Connects with the handshake to follow, when EncryptOnConnect asked for it.
    bool ConnectEncrypted(const std::string& host, uint16_t port);
    void OnEncrypted();
    void OnSslErrors(const QList<QSslError>& errors);
    // The handshake is over without success: the session hears of it once.
    void HandshakeFailed();
    // An error or the end of the stream while a handshake is under way.
    bool HandshakeBroken();

    // Connects the socket's signals to this object.
    void Wire();
    // The socket as a TLS socket: a plain one is replaced, and an open
    // connection handed over to the replacement. Null when that fails.
    QSslSocket* TlsSocket();
    void OnReadyRead();
    void OnDisconnected();
    void OnError();
    // Reports a complete unit to the session.
    void Report();
    // Reads chunks until a unit is complete or nothing is left to read.
    bool PullUnit();
    void Detach();

    CProxyServer& m_proxy;
    IConnectionEvents* m_pEvents = nullptr;
    QTcpSocket* m_pSocket;
    bool m_bRetrieving = false;
    std::string m_unit;
    std::unique_ptr<char[]> m_pReadBuffer;
    int32_t m_nChunks = 0;
    size_t m_nMaxUnit = size_t(64) << 20;
    size_t m_nLineStart = 0; // where the unit's last line begins
    bool m_bUnitReady = false;
    bool m_bConnecting = false;
    bool m_bClosed = false;
    // TLS: the handshake follows the TCP connection (which is up), or was
    // started on the open connection; and why it failed.
    bool m_bTlsOnConnect = false;
    bool m_bTcpUp = false;
    bool m_bHandshaking = false;
    TlsFailure m_nTlsFailure = TlsFailure::kNone;
};

class CListenSocket : public QObject
{
    Q_OBJECT
public:
    explicit CListenSocket(CProxyServer& proxy);
    ~CListenSocket() override;

    // Listens on `address` (empty: the loopback addresses 127.0.0.1 and,
    // where the system has it, ::1) and `port` (0: any free port). False
    // when that is not possible.
    bool Listen(const std::string& address, int32_t port);
    uint16_t Port() const;
    bool Listening() const;
    // Also listening on ::1 (the default address on a system with IPv6).
    bool ListeningV6() const;
    // Why the last Listen failed, in words and as the system said it.
    std::string Error() const;
    EListenFailure Failure() const;
    // The next waiting connection, or null.
    QTcpSocket* Accept();
    // Takes connections again after running out of file descriptors.
    void Resume();

private:
    // Takes every waiting connection of a listening descriptor.
    void AcceptWaiting(QSocketNotifier* notifier);
    // An accept failed for want of resources: stop accepting for a moment
    // rather than being woken for the same connection again and again.
    void OnAcceptError();
    // The proxy takes the connections itself: the listening sockets' own
    // notifiers stay off, these watch them instead.
    void Watch(QTcpServer* server, QSocketNotifier*& notifier);

    CProxyServer& m_proxy;
    QTcpServer* m_pServer;
    QTcpServer* m_pServer6;
    QSocketNotifier* m_pNotifier = nullptr;
    QSocketNotifier* m_pNotifier6 = nullptr;
    std::deque<QTcpSocket*> m_accepted; // taken, not yet handed to the proxy
    bool m_bBadAddress = false;
    bool m_bPaused = false;
    bool m_bReported = false; // the pause is in the log until a connection is taken again
};
