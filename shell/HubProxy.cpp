// The hub's proxy operations, handed to the proxy server.
#include "shell/MainDialog.h"

void CMainDialog::OpenListener()
{
    m_proxy.OpenListener();
}

void CMainDialog::OnClientAccept()
{
    m_proxy.OnClientAccept();
}

void CMainDialog::OnSocketClose(IConnection* socket)
{
    m_proxy.OnSocketClose(socket);
}

void CMainDialog::OnSocketReceive(IConnection* socket)
{
    m_proxy.OnSocketReceive(socket);
}

void CMainDialog::OnTimer(int32_t id)
{
    m_proxy.OnTimer(id);
}

void CMainDialog::CompleteScan(CSession* session)
{
    m_proxy.CompleteScan(session);
}

bool CMainDialog::ReceiveAll(IConnection* socket, std::string& text, bool fromClient, int32_t index)
{
    return m_proxy.ReceiveAll(socket, text, fromClient, index);
}

void CMainDialog::SendToServer(CSession* session, const char* bytes, int32_t length, bool truncate)
{
    m_proxy.SendToServer(session, bytes, length, truncate);
}

void CMainDialog::SendToClient(CSession* session, const char* bytes, int32_t length, bool truncate)
{
    m_proxy.SendToClient(session, bytes, length, truncate);
}

CSession* CMainDialog::SessionOfSocket(const IConnection* socket, int32_t* index)
{
    return m_proxy.SessionOfSocket(socket, index);
}

CMailRecord* CMainDialog::RecordAt(CSession* session, int32_t n)
{
    return m_proxy.RecordAt(session, n);
}

int32_t CMainDialog::NextMessageToDownload(CSession* session)
{
    return m_proxy.NextMessageToDownload(session);
}

CMailRecord* CMainDialog::ProcessedMailByUidl(const std::string& uidl)
{
    return m_proxy.ProcessedMailByUidl(uidl);
}
