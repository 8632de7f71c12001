#include "proxy/Session.h"

#include "proxy/ProxyServer.h"
#include "proxy/Sockets.h"

#include "base/Win1252.h"

#include <QTimer>
#include <algorithm>

CSession::CSession(CProxyServer& proxy) : m_proxy(proxy) {}


CSession::~CSession()
{
    CloseConnections();
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
        m_nMessageCount = 0;
    }
    if (fresh == EFresh::kLogin) {
        // A new server connection means a new mailbox, perhaps of another account.
        m_answers.Reset();
        m_bAnswerAsList = true;
        m_bScanStarted = false;
        m_bCapaKnown = false;
        m_bPipelining = false;
        m_strCapaAnswer.clear();
        m_strTriggerLine.clear();
        m_bQuiet = false;
        StopSilence();
    }
    m_nState = state;
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
