#include "proxy/ProxyServer.h"

#include "proxy/Sockets.h"

#include <QAbstractEventDispatcher>

CProxyServer::CProxyServer(IProxyHost& host, QObject* parent) : QObject(parent), m_host(host) {}

CProxyServer::~CProxyServer()
{
    // Sessions first: their sockets report to this object.
    m_sessions.clear();
    m_processedMails.clear();
}

std::unique_ptr<IConnection> CProxyServer::MakeServerConnection()
{
    if (m_makeServerConnection)
        return m_makeServerConnection();
    return std::make_unique<CClientSocket>(*this);
}

void CProxyServer::FlushBeforeWaiting(CClientSocket* socket)
{
    for (const QPointer<CClientSocket>& pending : m_pendingSockets)
        if (pending == socket)
            return;
    m_pendingSockets.emplace_back(socket);
    if (m_bFlushHooked)
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    if (!dispatcher) {
        // No loop to wait for: the connections keep their own way of writing out.
        m_pendingSockets.clear();
        return;
    }
    m_bFlushHooked = true;
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CProxyServer::FlushPending);
}

void CProxyServer::FlushPending()
{
    // A flush may end a connection and with it a session, whose handling
    // may send again: the list is taken first, and gone sockets are null.
    std::vector<QPointer<CClientSocket>> sockets;
    sockets.swap(m_pendingSockets);
    for (const QPointer<CClientSocket>& socket : sockets)
        if (socket)
            socket->Flush();
}

CSession* CProxyServer::SessionOfSocket(const IConnection* socket, int32_t* index)
{
    int32_t i = 1;
    for (CSession* session : m_sessions) {
        if (socket && (session->m_pClient.get() == socket || session->m_pServer.get() == socket)) {
            if (index)
                *index = i;
            return session;
        }
        ++i;
    }
    if (index)
        *index = 0;
    return nullptr;
}

int32_t CProxyServer::SessionIndex(const CSession* session) const
{
    return session ? m_sessions.indexOf(session) : 0;
}

CSession* CProxyServer::SessionByNumber(int32_t number)
{
    for (CSession* session : m_sessions)
        if (session->m_nNumber == number)
            return session;
    return nullptr;
}

bool CProxyServer::Alive(const CSession* session, int32_t number) const
{
    for (CSession* s : m_sessions)
        if (s == session && s->m_nNumber == number)
            return true;
    return false;
}

CMailRecord* CProxyServer::RecordAt(CSession* session, int32_t n)
{
    if (!session || n < 1)
        return nullptr;
    // Without deletions the n-th record holds message n.
    if (CMailRecord* record = session->m_messages.at(n); record && record->m_nNumber == n)
        return record;
    for (CMailRecord* record : session->m_messages)
        if (record->m_nNumber == n)
            return record;
    return nullptr;
}

int32_t CProxyServer::NextMessageToDownload(CSession* session)
{
    int32_t n = 1;
    if (!session)
        return n;
    for (CMailRecord* record : session->m_messages) {
        if (!record || !record->IsDownloaded())
            break;
        ++n;
    }
    return n;
}

CMailRecord* CProxyServer::ProcessedMailByUidl(const std::string& uidl)
{
    for (CMailRecord* record : m_processedMails)
        if (record->m_strUidl == uidl)
            return record;
    return nullptr;
}

CMailRecord* CProxyServer::ReusableCopy(const CMailRecord& record, const std::string& account)
{
    // Only a real UIDL, given to this message alone, of the same account
    // identifies a message.
    if (record.m_strUidl.empty() || record.m_bUidlShared)
        return nullptr;
    for (CMailRecord* copy : m_processedMails)
        if (copy->m_bAnalysed && copy->m_strUidl == record.m_strUidl && copy->m_strAccount == account &&
            copy->m_nListedSize == record.m_nListedSize)
            return copy;
    return nullptr;
}
