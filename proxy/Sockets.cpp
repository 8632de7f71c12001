#include "proxy/Sockets.h"

#include <QTcpSocket>

CClientSocket::CClientSocket(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_pSocket(socket ? socket : new QTcpSocket())
{
    m_pSocket->setParent(this);
}

CClientSocket::~CClientSocket()
{
    Close();
}

void CClientSocket::Close()
{
    if (m_pSocket) {
        m_pSocket->disconnect(this);
        m_pSocket->abort();
    }
}
