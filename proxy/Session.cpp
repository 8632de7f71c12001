#include "proxy/Session.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"

#include <QTimer>
#include <algorithm>

CSession::CSession(CProxyServer& proxy) : m_proxy(proxy) {}


CSession::~CSession()
{
    CloseConnections();
    m_proxy.KeepUnfinished(this);
}

void CSession::CloseConnections()
{
    if (m_pClient)
        m_pClient->Close();
    m_pClient.reset();
    if (m_pServer)
        m_pServer->Close();
    m_pServer.reset();
}

void CSession::EnterState(int32_t state, EFresh fresh)
{
    if (fresh != EFresh::kNothing) {
        // What a download left behind.
        m_messages.clear();
        m_pipeline.clear();
        m_strRetrStatus.clear();
        m_bRetrStatusPending = false;
        m_bTimerArmed = false;
        m_bTimerFired = false;
        if (m_pGraceTimer)
            m_pGraceTimer->stop();
    }
    if (fresh == EFresh::kScan) {
        m_strUidlAnswer.clear();
        m_strListAnswer.clear();
        m_strStatAnswer.clear();
        m_scanCopies.clear();
        m_keptUidls.clear();
        m_bKeepNothing = false;
        m_nUnanalysedBytes = 0;
        m_bUidlsListed = false;
        m_bAnswerDue = false;
        m_bDraining = false;
        m_nMessageCount = 0;
    }
    if (fresh == EFresh::kLogin) {
        // A new server connection means a new mailbox, perhaps of another account.
        m_answers.Reset();
        m_noted.clear();
        m_bAnswerAsList = true;
        m_bScanStarted = false;
        m_bCapaKnown = false;
        m_bPipelining = false;
        m_strCapaAnswer.clear();
        m_strTriggerLine.clear();
        m_bQuiet = false;
        m_bWindowed = false;
        m_nWindowLast = 0;
        StopSilence();
    }
    m_nState = state;
}

std::unique_ptr<QTimer> CSession::MakeTimer(void (CProxyServer::*handler)(int32_t))
{
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer); // never shorter than asked
    // Queued, and by number: the session (and this timer) may end in the handler.
    CProxyServer* proxy = &m_proxy;
    const int32_t number = m_nNumber;
    QObject::connect(
        timer.get(), &QTimer::timeout, proxy, [proxy, handler, number] { (proxy->*handler)(number); },
        Qt::QueuedConnection);
    return timer;
}

void CSession::SetClient(std::unique_ptr<IConnection> connection)
{
    m_pClient = std::move(connection);
    if (m_pClient)
        m_pClient->SetEvents(this);
}

void CSession::SetServer(std::unique_ptr<IConnection> connection)
{
    m_pServer = std::move(connection);
    if (m_pServer)
        m_pServer->SetEvents(this);
}

void CSession::OnConnected(IConnection* connection, bool ok)
{
    if (connection != m_pServer.get())
        return;
    if (!ok && connection->EncryptionFailure() != TlsFailure::kNone) {
        EndForTls(connection->EncryptionFailure());
        return;
    }
    if (!ok) {
        StopSilence();
        m_proxy.AddLog(StrFormat(txt::kServerConnectFailed, m_strServerHost.c_str(), m_nServerPort), true);
        m_proxy.EndAfterConnectFailure(this);
        return;
    }
    LogEncryption();
    m_proxy.Host().MailCheckStarted();
}

void CSession::OnBytes(IConnection* connection)
{
    // Any sign of life from the server restarts its silence limit.
    if (connection == m_pServer.get() && m_pSilenceTimer && m_pSilenceTimer->isActive())
        m_pSilenceTimer->start();
}

void CSession::OnUnit(IConnection* connection)
{
    const int32_t index = m_proxy.SessionIndex(this);
    if (!index)
        return;
    if (connection == m_pClient.get())
        OnClientData(index);
    else if (connection == m_pServer.get())
        OnServerData(index);
}

void CSession::OnClosed(IConnection* connection)
{
    // What the server said last still reaches the client before its
    // connection closes.
    if (connection == m_pServer.get()) {
        const std::string held = m_answers.TakeHeld();
        if (!held.empty())
            SendToClient(held);
    }
    m_proxy.DisconnectSession(this); // switches to idle when it was the last
}

bool CSession::Scanning() const
{
    return m_nState == kStateStatWait || m_nState == kStateCapaWait || m_nState == kStateListWait || m_nState == kStateUidlWait ||
           m_nState == kStateDownload;
}

std::string CSession::Account() const
{
    return w1252::Lower(m_strServerHost) + ":" + std::to_string(m_nServerPort) + " " + m_strUserName;
}

void CSession::SendToClient(const std::string& text)
{
    m_proxy.SendToClient(this, text);
}

void CSession::SendToClient(const char* bytes, int32_t length, bool truncate)
{
    m_proxy.SendToClient(this, bytes, length, truncate);
}

void CSession::SendToServer(const std::string& text)
{
    m_proxy.SendToServer(this, text);
}

bool CSession::AnswerWhole(const pop3::AnswerCut& cut)
{
    if (cut.kind == pop3::AnswerCut::Kind::kNotStatus)
        ProtocolError(Breach::kNotStatus);
    else if (cut.kind == pop3::AnswerCut::Kind::kTooLong)
        ProtocolError(Breach::kTooLong);
    else if (cut.kind == pop3::AnswerCut::Kind::kDoubleStatus)
        ProtocolError(Breach::kDoubleStatus);
    return cut.kind == pop3::AnswerCut::Kind::kComplete;
}

void CSession::ProtocolError(Breach breach)
{
    static constexpr const char* kLog[] = {txt::kWhyNotStatusLog, txt::kWhyTooLongLog, txt::kWhyUnowedLog,
                                           txt::kWhyDoubleStatusLog};
    static constexpr const char* kClient[] = {txt::kWhyNotStatus, txt::kWhyTooLong, txt::kWhyUnowed,
                                              txt::kWhyDoubleStatus};
    const auto why = static_cast<size_t>(breach);
    m_proxy.AddLog(StrFormat(txt::kProtocolErrorLog, m_proxy.SessionIndex(this), kLog[why]), true);
    m_proxy.ForgetCopies(this);
    SendToClient(StrFormat(txt::kProtocolError, kClient[why]));
    m_proxy.DisconnectSession(this);
}

bool CSession::AnswerBegun() const
{
    if (m_pServer && m_pServer->HoldsPartialUnit())
        return true;
    switch (m_nState) {
    case kStateCapaWait:
        return !m_strCapaAnswer.empty();
    case kStateStatWait:
        return !m_strStatAnswer.empty();
    case kStateListWait:
        return !m_strListAnswer.empty();
    case kStateUidlWait:
        return !m_strUidlAnswer.empty();
    case kStateDownload:
        // The status line of the answer being read has begun or is read.
        return !m_strRetrStatus.empty() || !m_bRetrStatusPending;
    default:
        return m_answers.Begun();
    }
}
