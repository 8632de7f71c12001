#include "proxy/Sockets.h"

#include "base/Texts.h"
#include "proxy/Pop3Text.h"

#include "proxy/ProxyServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long a closed connection may still take to deliver its last output.
constexpr int kLingerMs = 10000;
// How long accepting stops when the process has no file descriptor left.
constexpr int kAcceptPauseMs = 1000;

// flush and abort are not virtual: a TLS-capable socket is reached through
// its own type, or they would miss its inner connection.
void Abort(QTcpSocket* socket)
{
    if (auto* tls = qobject_cast<QSslSocket*>(socket))
        tls->abort();
    else
        socket->abort();
}

} // namespace

bool ChunkEndsUnit(std::string_view chunk)
{
    return static_cast<int64_t>(chunk.size()) < kReadChunk &&
           std::memchr(chunk.data(), '\n', chunk.size()) != nullptr;
}

bool ChunkEndsUnit(std::string_view chunk, std::string_view unit, bool retrieving, bool moreWaiting)
{
    if (ChunkEndsUnit(chunk))
        return true;
    return retrieving && !moreWaiting && static_cast<int64_t>(chunk.size()) == kReadChunk &&
           pop3::EndsMultiLine(unit);
}

CClientSocket::CClientSocket(CProxyServer& proxy, QTcpSocket* socket)
    : m_proxy(proxy), m_pSocket(socket ? socket : new QTcpSocket())
{
    m_pSocket->setParent(this);
    // Every answer leaves at once: otherwise the last small segment of a
    // retrieval waits for the peer's delayed acknowledgement (about 40 ms).
    if (socket)
        m_pSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Wire();
}

void CClientSocket::Wire()
{
    connect(m_pSocket, &QTcpSocket::readyRead, this, &CClientSocket::OnReadyRead);
    connect(m_pSocket, &QTcpSocket::disconnected, this, &CClientSocket::OnDisconnected);
    connect(m_pSocket, &QTcpSocket::errorOccurred, this, &CClientSocket::OnError);
    connect(m_pSocket, &QTcpSocket::connected, this, [this] {
        m_pSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_bTcpUp = true;
        if (m_bTlsOnConnect)
            return; // reported once the handshake is over
        m_bConnecting = false;
        if (m_pEvents)
            m_pEvents->OnConnected(this, true);
    });
}

CClientSocket::~CClientSocket()
{
    Close();
}

void CClientSocket::Connect(const std::string& host, uint16_t port)
{
    m_bConnecting = true;
    if (!ConnectEncrypted(host, port))
        m_pSocket->connectToHost(QString::fromStdString(host), port);
}

bool CClientSocket::IsActive() const
{
    return m_pSocket && !m_bClosed && m_pSocket->state() != QAbstractSocket::UnconnectedState;
}

bool CClientSocket::IsConnected() const
{
    return m_pSocket && !m_bClosed && m_pSocket->state() == QAbstractSocket::ConnectedState;
}

bool CClientSocket::Send(const char* data, int64_t length)
{
    if (!IsConnected())
        return false;
    if (m_pSocket->write(data, length) != length)
        return false;
    // Written out before the event loop waits again, rather than after the
    // next poll reports the connection writable: one turn of the loop less
    // for every answer.
    m_proxy.FlushBeforeWaiting(this);
    return true;
}

void CClientSocket::Flush()
{
    if (!m_pSocket || m_bClosed || m_pSocket->bytesToWrite() <= 0)
        return;
    if (auto* tls = qobject_cast<QSslSocket*>(m_pSocket))
        tls->flush();
    else
        m_pSocket->flush();
}

void CClientSocket::Detach()
{
    if (m_pSocket)
        m_pSocket->disconnect(this);
}

void CClientSocket::Close()
{
    if (!m_pSocket)
        return;
    m_bClosed = true;
    Detach();
    // The socket outlives this object: it may be in the middle of emitting
    // the signal whose handling closes it, and its last output still has to
    // leave.
    QTcpSocket* socket = m_pSocket;
    m_pSocket = nullptr;
    socket->setParent(nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, socket, [socket] {
            Abort(socket);
            socket->deleteLater();
        });
        if (qobject_cast<QSslSocket*>(socket)) {
            socket->disconnectFromHost();
            return;
        }
        // Once the last answer has left, only the sending half is closed and
        // whatever the peer still sends is read and dropped until it closes
        // too: a command it sent meanwhile (QUIT after an -ERR) would
        // otherwise make the system reset the connection, and a reset may
        // take the answer not yet read with it.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
            if (socket->bytesToWrite() == 0)
                ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
        });
    } else {
        Abort(socket);
        socket->deleteLater();
    }
}

bool CClientSocket::PullUnit()
{
    if (m_bUnitReady)
        return true;
    while (m_pSocket) {
        const int64_t available = m_pSocket->bytesAvailable();
        if (available <= 0)
            return false;
        const int64_t want = std::min<int64_t>(available, kReadChunk);
        // Read through a buffer kept for the connection's life: growing the
        // unit first would clear bytes that are overwritten at once.
        if (!m_pReadBuffer)
            m_pReadBuffer = std::make_unique_for_overwrite<char[]>(kReadChunk);
        const int64_t got = m_pSocket->read(m_pReadBuffer.get(), want);
        if (got <= 0)
            return false;
        const size_t old = m_unit.size();
        // Room for all that is waiting at once: a streaming answer would
        // otherwise be copied again at every doubling of the unit.
        if (m_unit.capacity() - old < static_cast<size_t>(got))
            m_unit.reserve(std::min(std::max(old + static_cast<size_t>(available), 2 * m_unit.capacity()),
                                    std::max(m_nMaxUnit, old + static_cast<size_t>(got))));
        m_unit.append(m_pReadBuffer.get(), static_cast<size_t>(got));
        ++m_nChunks;
        const std::string_view chunk(m_unit.data() + old, static_cast<size_t>(got));
        if (ChunkEndsUnit(chunk, m_unit, m_bRetrieving, m_pSocket->bytesAvailable() > 0)) {
            m_bUnitReady = true;
            return true;
        }
        // A peer that never ends a line cannot make a unit grow without
        // bound: past the limit the bytes are handed on as they are. A line
        // past the line bound is handed on at once, so that a status line
        // that never ends is judged while its bytes keep coming.
        if (const void* lf = memrchr(chunk.data(), '\n', chunk.size()))
            m_nLineStart = old + static_cast<size_t>(static_cast<const char*>(lf) - chunk.data()) + 1;
        if (m_unit.size() >= m_nMaxUnit || m_unit.size() - m_nLineStart > kMaxUnitLine) {
            m_bUnitReady = true;
            return true;
        }
    }
    return false;
}

std::string CClientSocket::TakeUnit(int32_t* chunks)
{
    std::string unit;
    unit.swap(m_unit);
    if (chunks)
        *chunks = m_nChunks;
    m_nChunks = 0;
    m_nLineStart = 0;
    m_bUnitReady = false;
    return unit;
}

void CClientSocket::OnReadyRead()
{
    QPointer<CClientSocket> self(this);
    if (m_pEvents)
        m_pEvents->OnBytes(this);
    while (self && !m_bClosed && PullUnit()) {
        Report();
        // A handler that did not take the unit (the session is gone or
        // waiting) must not make this loop spin.
        if (self && m_bUnitReady)
            break;
    }
}

void CClientSocket::OnDisconnected()
{
    if (HandshakeBroken())
        return;
    QPointer<CClientSocket> self(this);
    // Whatever arrived before the end is handled first; the end of the
    // stream ends the last unit.
    while (self && !m_bClosed && PullUnit()) {
        Report();
        if (self && m_bUnitReady)
            break;
    }
    if (!self || m_bClosed)
        return;
    if (!m_unit.empty()) {
        m_bUnitReady = true;
        Report();
        if (!self || m_bClosed)
            return;
    }
    if (m_pEvents)
        m_pEvents->OnClosed(this);
}

void CClientSocket::OnError()
{
    if (HandshakeBroken())
        return;
    if (!m_bConnecting || !m_pSocket)
        return;
    m_bConnecting = false;
    if (m_pEvents)
        m_pEvents->OnConnected(this, false);
}

void CClientSocket::Report()
{
    if (m_pEvents)
        m_pEvents->OnUnit(this);
}

CListenSocket::CListenSocket(CProxyServer& proxy)
    : m_proxy(proxy), m_pServer(new QTcpServer(this)), m_pServer6(new QTcpServer(this))
{
}

CListenSocket::~CListenSocket()
{
    for (QTcpSocket* socket : m_accepted)
        delete socket;
}

void CListenSocket::Watch(QTcpServer* server, QSocketNotifier*& notifier)
{
    // The listening socket's own notifier would accept again at once after
    // running out of descriptors, without a word: it is paused for good.
    server->pauseAccepting();
    delete notifier;
    notifier = new QSocketNotifier(server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] { AcceptWaiting(notifier); });
}

void CListenSocket::AcceptWaiting(QSocketNotifier* notifier)
{
    QPointer<CListenSocket> self(this);
    const int listening = static_cast<int>(notifier->socket());
    while (self && notifier->isEnabled()) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                OnAcceptError();
            return;
        }
        auto* socket = new QTcpSocket();
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        m_accepted.push_back(socket);
        m_proxy.OnClientAccept();
    }
}

bool CListenSocket::Listen(const std::string& address, int32_t port)
{
    m_bBadAddress = false;
    if (port < 0 || port > 65535)
        return false;
    // Only this machine by default: on every interface, a user(host:port)
    // login would let any host of the network make the proxy connect
    // wherever it names and send credentials there.
    QHostAddress host(QHostAddress::LocalHost);
    if (!address.empty()) {
        if (address == "localhost")
            host = QHostAddress(QHostAddress::LocalHost);
        else if (!host.setAddress(QString::fromStdString(address))) {
            m_bBadAddress = true;
            return false;
        }
    }
    if (!m_pServer->listen(host, static_cast<uint16_t>(port)))
        return false;
    Watch(m_pServer, m_pNotifier);
    // Clients that resolve "localhost" to ::1 find the proxy there too, on
    // the same port; a system without IPv6 simply has no second listener.
    if ((address.empty() || address == "localhost") &&
        m_pServer6->listen(QHostAddress::LocalHostIPv6, m_pServer->serverPort()))
        Watch(m_pServer6, m_pNotifier6);
    return true;
}

uint16_t CListenSocket::Port() const
{
    return m_pServer->serverPort();
}

bool CListenSocket::Listening() const
{
    return m_pServer->isListening();
}

bool CListenSocket::ListeningV6() const
{
    return m_pServer6->isListening();
}

std::string CListenSocket::Error() const
{
    return m_bBadAddress ? std::string("not an address") : m_pServer->errorString().toStdString();
}

EListenFailure CListenSocket::Failure() const
{
    if (m_bBadAddress)
        return EListenFailure::kAddress;
    switch (m_pServer->serverError()) {
    case QAbstractSocket::AddressInUseError:
        return EListenFailure::kInUse;
    case QAbstractSocket::SocketAccessError: // EACCES: a port below 1024 without the privilege
        return EListenFailure::kPrivileged;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return EListenFailure::kAddress;
    default:
        return EListenFailure::kOther;
    }
}

QTcpSocket* CListenSocket::Accept()
{
    if (m_accepted.empty())
        return nullptr;
    QTcpSocket* socket = m_accepted.front();
    m_accepted.pop_front();
    m_bReported = false;
    return socket;
}

void CListenSocket::OnAcceptError()
{
    for (QSocketNotifier* notifier : {m_pNotifier, m_pNotifier6})
        if (notifier)
            notifier->setEnabled(false);
    if (!m_bReported)
        m_proxy.AddLog(txt::kAcceptPaused, true);
    m_bReported = true;
    m_bPaused = true;
    QTimer::singleShot(kAcceptPauseMs, this, &CListenSocket::Resume);
}

void CListenSocket::Resume()
{
    if (!m_bPaused)
        return;
    m_bPaused = false;
    for (QSocketNotifier* notifier : {m_pNotifier, m_pNotifier6})
        if (notifier)
            notifier->setEnabled(true); // reports what waited meanwhile
}
