// The connections of a session: the accepted mail-client connection and the
// outgoing connection to the POP3 server, both asynchronous QTcpSockets whose
// notifications go to the hub on the event-loop thread.
#pragma once

#include <QObject>

class QTcpSocket;

class CClientSocket : public QObject
{
    Q_OBJECT
public:
    explicit CClientSocket(QTcpSocket* socket = nullptr, QObject* parent = nullptr);
    ~CClientSocket() override;

    QTcpSocket* Socket() const { return m_pSocket; }
    void Close();

private:
    QTcpSocket* m_pSocket; // owned
};
