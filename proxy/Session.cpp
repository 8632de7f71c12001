#include "proxy/Session.h"

#include "proxy/Sockets.h"

#include "base/Win1252.h"

#include <QTimer>
#include <algorithm>

CSession::CSession() = default;


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

bool CSession::Scanning() const
{
    return m_nState == kStateStatWait || m_nState == kStateCapaWait || m_nState == kStateListWait || m_nState == kStateUidlWait ||
           m_nState == kStateDownload;
}

std::string CSession::Account() const
{
    return w1252::Lower(m_strServerHost) + ":" + std::to_string(m_nServerPort) + " " + m_strUserName;
}
