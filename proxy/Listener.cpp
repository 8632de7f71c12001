// The listener and the life of a session: acceptance, the server
// connection's opening, the close of either connection.
#include "base/Format.h"
#include "base/MessageStore.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "proxy/Sockets.h"

#include <QHostAddress>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

// A session that held this much message text gives the memory back when it ends.
constexpr size_t kTrimAfterBytes = size_t(16) << 20;

} // namespace

void CProxyServer::ReturnFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void CProxyServer::OpenListener()
{
    if (!m_pListenSocket) {
        m_pListenSocket = new CListenSocket(*this);
        m_pListenSocket->setParent(this);
    }
    if (!Settings().m_strServerCertificate.empty())
        LoadSystemTrust();
    if (Listen(*m_pListenSocket)) {
        LogListening();
        return;
    }
    const std::string text = ListenFailedLine();
    AddLog(text + "\r\n", true);
    m_host.ShowListenFailure(text);
}

bool CProxyServer::Listen(CListenSocket& socket)
{
    const bool ok = socket.Listen(Settings().m_strListenAddress, Settings().m_nListenPort);
    m_nListenFailure = ok ? EListenFailure::kNone : socket.Failure();
    m_strListenError = ok ? std::string() : socket.Error();
    return ok;
}

void CProxyServer::LogListening()
{
    AddLog(StrFormat(txt::kListening, ListenAddress().c_str(), Port()), true);
    if (m_pListenSocket->ListeningV6())
        AddLog(StrFormat(txt::kListening, "[::1]", Port()), true);
}

std::string CProxyServer::ListenFailedLine() const
{
    const int32_t port = Settings().m_nListenPort;
    return port == 110 ? std::string(txt::kListenFailed) : StrFormat(txt::kListenPortFailed, port);
}

bool CProxyServer::ReopenListener(const std::string& previousAddress, int32_t previousPort)
{
    auto fresh = std::make_unique<CListenSocket>(*this);
    bool ok = Listen(*fresh);
    if (!ok && Listening()) {
        // Another address on the port listened on now: the port is let go
        // first, and taken back when the new place cannot be had either.
        const EListenFailure failure = m_nListenFailure;
        delete m_pListenSocket;
        m_pListenSocket = nullptr;
        fresh = std::make_unique<CListenSocket>(*this);
        ok = Listen(*fresh);
        if (!ok) {
            const std::string error = m_strListenError;
            auto back = std::make_unique<CListenSocket>(*this);
            if (back->Listen(previousAddress, previousPort)) {
                m_pListenSocket = back.release();
                m_pListenSocket->setParent(this);
            }
            if (failure != EListenFailure::kInUse)
                m_nListenFailure = failure;
            m_strListenError = error;
        }
    }
    if (!ok) {
        AddLog(ListenFailedLine() + "\r\n", true);
        return false;
    }
    delete m_pListenSocket;
    m_pListenSocket = fresh.release();
    m_pListenSocket->setParent(this);
    LogListening();
    return true;
}

uint16_t CProxyServer::Port() const
{
    return m_pListenSocket ? m_pListenSocket->Port() : 0;
}

bool CProxyServer::Listening() const
{
    return m_pListenSocket && m_pListenSocket->Listening();
}

std::string CProxyServer::ListenAddress() const
{
    return Settings().m_strListenAddress.empty() ? std::string("127.0.0.1") : Settings().m_strListenAddress;
}

std::string CProxyServer::ListenError() const
{
    return m_strListenError;
}

void CProxyServer::OnClientAccept()
{
    AddLog(txt::kCheckingMails, true);
    auto session = std::make_unique<CSession>(*this);
    session->SetServer(MakeServerConnection()); // opened by the USER line
    session->m_strServerHost = Settings().m_strPopServer;
    m_host.Progress().Reset();

    QTcpSocket* accepted = m_pListenSocket ? m_pListenSocket->Accept() : nullptr;
    if (!accepted)
        return; // the session goes with its connection objects, nothing logged
    const int32_t limit = Settings().m_nMaxConnections;
    if (limit > 0 && m_sessions.count() >= limit) {
        // Beyond the bound a client hears why, and nothing is opened for it.
        AddLog(StrFormat(txt::kTooManyClients, accepted->peerAddress().toString().toStdString().c_str(), limit),
               true);
        accepted->write(txt::kTooManyConnections);
        QObject::connect(accepted, &QTcpSocket::disconnected, accepted, &QObject::deleteLater);
        accepted->disconnectFromHost();
        return;
    }
    auto client = std::make_unique<CClientSocket>(*this, accepted);
    // A mail client's line is short: one that runs past the bound is
    // refused (see OnClientData) before it can take the memory of many.
    client->SetUnitLimit(kMaxClientUnit);
    session->SetClient(std::move(client));
    ++m_nLastSessionNumber;

    const int32_t port = m_pListenSocket->Port();
    bool isV4 = false;
    const uint32_t v4 = accepted->peerAddress().toIPv4Address(&isV4);
    std::string address;
    if (isV4) {
        const int a = int(v4 >> 24), b = int((v4 >> 16) & 0xFF), c = int((v4 >> 8) & 0xFF), d = int(v4 & 0xFF);
        AddLog(StrFormat(txt::kClientAccepted, a, b, c, d, port), true);
        address = StrFormat("%d.%d.%d.%d", a, b, c, d);
    } else {
        address = accepted->peerAddress().toString().toStdString();
        AddLog(StrFormat(txt::kClientAcceptedOther, address.c_str(), port), true);
    }
    m_host.Connections().Add(address);
    session->m_strClientAddress = address;
    m_host.SetTrayIcon(true, false);
    session->m_nNumber = m_nLastSessionNumber;
    CSession* added = m_sessions.append(std::move(session));
    SendToClient(added, StrFormat(txt::kGreetingFormat, txt::kServerBanner));
    added->m_pIdleTimer = added->MakeTimer(&CProxyServer::OnClientIdle);
    added->m_pIdleTimer->start(std::max(m_nIdleMs, 1));
}

void CProxyServer::OnClientIdle(int32_t number)
{
    if (CSession* session = SessionByNumber(number))
        session->ClientIdle();
}

void CSession::ClientIdle()
{
    // Waiting on the proxy or the server is not idleness.
    if (Scanning() || !m_answers.Idle() || (m_pServer && m_pServer->IsActive() && m_bGreetingPending)) {
        m_pIdleTimer->start();
        return;
    }
    // As a POP3 server's autologout: the connection closes without an
    // answer and without QUIT, so nothing is deleted.
    m_proxy.AddLog(StrFormat(txt::kClientIdle, m_proxy.SessionIndex(this), std::max(m_proxy.m_nIdleMs, 1) / 60000), true);
    m_proxy.DisconnectSession(this);
}

void CProxyServer::DisconnectSession(CSession* session)
{
    const int32_t index = SessionIndex(session);
    if (!index)
        return;
    session->CloseConnections();
    const std::string address = session->m_strClientAddress;
    size_t held = 0;
    for (const CMailRecord* record : session->m_messages)
        held += record->m_pszText.capacity();
    m_sessions.remove(session); // destroyed here, with its records
    // The allocator keeps freed memory for later: after a large mailbox it
    // goes back to the system.
    if (held >= kTrimAfterBytes)
        ReturnFreeMemory();
    if (m_pListenSocket)
        m_pListenSocket->Resume();
    AddLog(StrFormat(txt::kDisconnected, index), true);
    m_host.Connections().Remove(address);
    if (m_sessions.empty()) {
        m_host.SetTrayIcon(false, false);
        if (IMessageStore* store = Store())
            store->Idle();
    }
}

void CProxyServer::OnSocketClose(IConnection* socket)
{
    if (CSession* session = SessionOfSocket(socket)) {
        session->OnClosed(socket);
        return;
    }
    if (m_sessions.empty())
        m_host.SetTrayIcon(false, false);
}

void CProxyServer::EndAfterConnectFailure(CSession* session, const char* tlsReason)
{
    // The command the client is waiting on gets an answer that says why.
    std::string host = session->m_strServerHost;
    std::replace_if(host.begin(), host.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, '?');
    if (tlsReason)
        EndWithAnswer(session, StrFormat(txt::kTlsFailedAnswer, host.c_str(), session->m_nServerPort, tlsReason));
    else if (host.empty())
        EndWithAnswer(session, txt::kNoServerNamed);
    else if (session->m_pServer && session->m_pServer->IsConnected())
        EndWithAnswer(session, StrFormat(Settings().m_nServerSecurity == ServerSecurity::kAuto &&
                                                 session->m_nServerPort != 995
                                             ? txt::kServerDidNotGreetPlain
                                             : txt::kServerDidNotGreet,
                                         host.c_str(), session->m_nServerPort));
    else
        EndWithAnswer(session, StrFormat(txt::kCannotReach, host.c_str(), session->m_nServerPort));
}

void CProxyServer::EndWithAnswer(CSession* session, const std::string& answer)
{
    SendToClient(session, answer);
    session->CloseConnections();
    const std::string address = session->m_strClientAddress;
    m_sessions.remove(session);
    m_host.Connections().Remove(address);
    if (m_sessions.empty())
        m_host.SetTrayIcon(false, false);
}

void CProxyServer::DisconnectAll()
{
    // Numbered in the order they are closed, from 1: each one closed is the
    // head of the list by then, but the log counts them.
    int32_t number = 0;
    while (CSession* session = m_sessions.head()) {
        session->CloseConnections();
        const std::string address = session->m_strClientAddress;
        m_sessions.remove(session);
        AddLog(StrFormat(txt::kDisconnected, ++number), true);
        m_host.Connections().Remove(address);
    }
}

void CSession::StopSilence()
{
    if (m_pSilenceTimer)
        m_pSilenceTimer->stop();
}

void CProxyServer::OnServerSilent(int32_t number)
{
    CSession* session = SessionByNumber(number);
    if (!session || !session->m_pSilenceTimer || session->m_pSilenceTimer->isActive())
        return;
    if (session->m_nSecurity == CSession::Security::kHandshake) {
        session->EndForTls(TlsFailure::kHandshake);
        return;
    }
    if (session->m_bGreetingPending) {
        // Still connecting, or connected without a greeting.
        AddLog(StrFormat(txt::kServerConnectFailed, session->m_strServerHost.c_str(), session->m_nServerPort),
               true);
        EndAfterConnectFailure(session);
        return;
    }
    // The client waits on the server while the proxy scans, and while an
    // answer to a line it relayed is owed.
    if (!session->Scanning() && session->m_answers.Idle())
        return;
    AddLog(StrFormat(txt::kServerSilent, SessionIndex(session)), true);
    // A client answered early waits on nothing: it is not told of a
    // download it never asked for.
    if (session->Scanning() && session->m_bWindowed && !session->m_bDraining) {
        DisconnectSession(session);
        return;
    }
    // A server that began its answer did respond: the client hears that it
    // stopped halfway.
    SendToClient(session, session->AnswerBegun() ? txt::kServerStalled : txt::kServerNotResponding);
    DisconnectSession(session);
}

void CSession::WatchAnswers()
{
    if (Scanning())
        return; // the scan keeps its own watch
    if (m_answers.Idle())
        StopSilence();
    else
        ArmSilence();
}

void CSession::ArmSilence()
{
    if (!m_pSilenceTimer)
        m_pSilenceTimer = MakeTimer(&CProxyServer::OnServerSilent);
    m_pSilenceTimer->start(std::max(m_proxy.m_nSilenceMs, 1));
}
