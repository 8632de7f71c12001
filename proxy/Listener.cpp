// The listener and the life of a session: acceptance, the server
// connection's opening, the close of either connection.
#include "proxy/Relay.h"
#include "proxy/Sockets.h"
#include "base/Format.h"
#include "shell/MainDialog.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

void CMainDialog::OpenListener()
{
    if (!m_pListenSocket) {
        m_pListenSocket = new CListenSocket(*this);
        m_pListenSocket->setParent(this);
    }
    if (m_pListenSocket->Listen(m_strListenAddress, m_nListenPort))
        return;
    const std::string text = m_nListenPort == 110 ? std::string(txt::kListenFailed)
                                                  : StrFormat(txt::kListenPortFailed, m_nListenPort);
    AddLog(text + "\r\n", true);
    if (m_messageBox) {
        m_messageBox(text, txt::kListenFailedCaption);
    } else {
        const std::string out = std::string(txt::kListenFailedCaption) + ": " + w1252::ToUtf8(text) + "\n";
        std::fwrite(out.data(), 1, out.size(), stderr);
        std::fflush(stderr);
    }
}

void CMainDialog::OnClientAccept()
{
    AddLog(txt::kCheckingMails, true);
    auto session = std::make_unique<CSession>();
    session->m_pServer = std::make_unique<CClientSocket>(*this); // opened by the USER line
    session->m_strServerHost = m_strPopServer;
    m_progress.Reset();

    QTcpSocket* accepted = m_pListenSocket ? m_pListenSocket->Accept() : nullptr;
    if (!accepted)
        return; // the session goes with its connection objects, nothing logged
    session->m_pClient = std::make_unique<CClientSocket>(*this, accepted);
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
    m_connections.Add(address);
    session->m_strClientAddress = address;
    SetTrayIcon(true, false);
    session->m_nNumber = m_nLastSessionNumber;
    CSession* added = m_sessions.append(std::move(session));
    SendToClient(added, StrFormat(txt::kGreetingFormat, txt::kServerBanner));
}

void CMainDialog::DisconnectSession(CSession* session)
{
    const int32_t index = SessionIndex(session);
    if (!index)
        return;
    session->CloseConnections();
    const std::string address = session->m_strClientAddress;
    m_sessions.remove(session); // destroyed here, with its records
    AddLog(StrFormat(txt::kDisconnected, index), true);
    m_connections.Remove(address);
    if (m_sessions.empty())
        SetTrayIcon(false, false);
}

void CMainDialog::OnSocketClose(CClientSocket* socket)
{
    CSession* session = SessionOfSocket(socket);
    if (session) {
        // What the server said last still reaches the client before its
        // connection closes.
        if (socket == session->m_pServer.get()) {
            const std::string held = session->m_answers.TakeHeld();
            if (!held.empty())
                SendToClient(session, held);
        }
        DisconnectSession(session); // switches to idle when it was the last
        return;
    }
    if (m_sessions.empty())
        SetTrayIcon(false, false);
}

void CMainDialog::OnServerConnected(CClientSocket* socket, bool connected)
{
    CSession* session = SessionOfSocket(socket);
    if (!session || socket != session->m_pServer.get())
        return;
    if (!connected) {
        relay::StopSilence(session);
        AddLog(StrFormat(txt::kServerConnectFailed, session->m_strServerHost.c_str(), session->m_nServerPort),
               true);
        relay::EndAfterConnectFailure(*this, session);
        return;
    }
    // Without a cap the log holds the current mail check only.
    if (m_nMaxLogSize == 0)
        m_log.Clear();
}

void CMainDialog::OnSocketBytes(CClientSocket* socket)
{
    CSession* session = SessionOfSocket(socket);
    if (session && socket == session->m_pServer.get() && session->m_pSilenceTimer &&
        session->m_pSilenceTimer->isActive())
        session->m_pSilenceTimer->start();
}

namespace relay {

bool Alive(CMainDialog& hub, const CSession* session, int32_t number)
{
    for (CSession* s : hub.m_sessions)
        if (s == session && s->m_nNumber == number)
            return true;
    return false;
}

void EndAfterConnectFailure(CMainDialog& hub, CSession* session)
{
    session->CloseConnections();
    const std::string address = session->m_strClientAddress;
    hub.m_sessions.remove(session);
    hub.m_connections.Remove(address);
    if (hub.m_sessions.empty())
        hub.SetTrayIcon(false, false);
}

void ArmSilence(CMainDialog& hub, CSession* session)
{
    if (!session->m_pSilenceTimer) {
        session->m_pSilenceTimer = std::make_unique<QTimer>();
        session->m_pSilenceTimer->setSingleShot(true);
        session->m_pSilenceTimer->setTimerType(Qt::PreciseTimer);
        const int32_t number = session->m_nNumber;
        // Queued: the session (and this timer) may end in the handler.
        QObject::connect(
            session->m_pSilenceTimer.get(), &QTimer::timeout, &hub,
            [&hub, number] { OnServerSilent(hub, number); }, Qt::QueuedConnection);
    }
    session->m_pSilenceTimer->start(std::max(hub.m_nSilenceMs, 1));
}

void StopSilence(CSession* session)
{
    if (session->m_pSilenceTimer)
        session->m_pSilenceTimer->stop();
}

void OnServerSilent(CMainDialog& hub, int32_t number)
{
    CSession* session = hub.SessionByNumber(number);
    if (!session || !session->m_pSilenceTimer || session->m_pSilenceTimer->isActive())
        return;
    if (session->m_bGreetingPending) {
        // Still connecting, or connected without a greeting.
        hub.AddLog(StrFormat(txt::kServerConnectFailed, session->m_strServerHost.c_str(),
                             session->m_nServerPort),
                   true);
        EndAfterConnectFailure(hub, session);
        return;
    }
    if (!session->Scanning())
        return;
    hub.AddLog(StrFormat(txt::kServerSilent, hub.SessionIndex(session)), true);
    hub.SendToClient(session, txt::kServerNotResponding);
    hub.DisconnectSession(session);
}

} // namespace relay
