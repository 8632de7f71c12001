// TLS on the outgoing connection: implicit (the handshake follows the TCP
// connection) or started on the open connection after STLS. The server's
// certificate is checked against the system's trust store, plus the
// certificates of an optional PEM file, and against the host name; a
// failed check is never overridden. The handshake runs on the event loop
// like any other transfer.
#include "proxy/Sockets.h"

#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>

#include <unistd.h>

namespace {

// The system's trust store, read once: every connection that adds a
// certificate of its own needs it whole.
const QList<QSslCertificate>& SystemCertificates()
{
    static const QList<QSslCertificate> certificates = QSslConfiguration::systemCaCertificates();
    return certificates;
}

// The most telling reason among the errors of one handshake.
TlsFailure ReasonOf(const QList<QSslError>& errors)
{
    struct Rank {
        QSslError::SslError error;
        TlsFailure reason;
    };
    static constexpr Rank kRanks[] = {
        {QSslError::HostNameMismatch, TlsFailure::kHostName},
        {QSslError::CertificateExpired, TlsFailure::kExpired},
        {QSslError::CertificateNotYetValid, TlsFailure::kNotYetValid},
        {QSslError::CertificateRevoked, TlsFailure::kRevoked},
        {QSslError::SelfSignedCertificate, TlsFailure::kUntrusted},
        {QSslError::SelfSignedCertificateInChain, TlsFailure::kUntrusted},
        {QSslError::UnableToGetLocalIssuerCertificate, TlsFailure::kUntrusted},
        {QSslError::UnableToGetIssuerCertificate, TlsFailure::kUntrusted},
        {QSslError::UnableToVerifyFirstCertificate, TlsFailure::kUntrusted},
        {QSslError::CertificateUntrusted, TlsFailure::kUntrusted},
    };
    for (const Rank& rank : kRanks)
        for (const QSslError& error : errors)
            if (error.error() == rank.error)
                return rank.reason;
    return errors.isEmpty() ? TlsFailure::kHandshake : TlsFailure::kCertificate;
}

} // namespace

void LoadSystemTrust()
{
    if (QSslSocket::supportsSsl())
        SystemCertificates();
}

QSslSocket* CClientSocket::TlsSocket()
{
    if (auto* tls = qobject_cast<QSslSocket*>(m_pSocket))
        return tls;
    // A plain connection stays a plain socket until it needs TLS: in clear,
    // a TLS socket reads straight from the system, which lets one large
    // retrieval hold the event loop.
    auto* tls = new QSslSocket(this);
    if (m_pSocket->state() == QAbstractSocket::ConnectedState) {
        // STLS: the TLS socket takes a copy of the descriptor; the plain
        // socket's closing then leaves the connection open.
        const int copy = ::dup(static_cast<int>(m_pSocket->socketDescriptor()));
        if (copy < 0 || !tls->setSocketDescriptor(copy, QAbstractSocket::ConnectedState)) {
            if (copy >= 0)
                ::close(copy);
            delete tls;
            return nullptr;
        }
        tls->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    QTcpSocket* plain = m_pSocket;
    plain->disconnect(this);
    plain->setParent(nullptr);
    plain->abort();
    plain->deleteLater(); // it may be emitting the signal that led here
    m_pSocket = tls;
    Wire();
    return tls;
}

QSslSocket* CClientSocket::PrepareTls(const TlsPeer& peer)
{
    if (m_bClosed || !m_pSocket || !QSslSocket::supportsSsl()) {
        m_nTlsFailure = TlsFailure::kUnavailable;
        return nullptr;
    }
    QSslSocket* socket = TlsSocket();
    if (!socket) {
        m_nTlsFailure = TlsFailure::kUnavailable;
        return nullptr;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!peer.extraCaFile.empty()) {
        const QList<QSslCertificate> extra =
            QSslCertificate::fromPath(QString::fromStdString(peer.extraCaFile), QSsl::Pem);
        if (extra.isEmpty()) {
            m_nTlsFailure = TlsFailure::kCaFile;
            return nullptr;
        }
        config.setCaCertificates(SystemCertificates() + extra);
    }
    socket->setSslConfiguration(config);
    socket->setPeerVerifyName(QString::fromStdString(peer.host));
    connect(socket, &QSslSocket::encrypted, this, &CClientSocket::OnEncrypted);
    connect(socket, &QSslSocket::sslErrors, this, &CClientSocket::OnSslErrors);
    return socket;
}

bool CClientSocket::EncryptOnConnect(const TlsPeer& peer)
{
    if (!PrepareTls(peer))
        return false;
    m_bTlsOnConnect = true;
    return true;
}

bool CClientSocket::StartEncryption(const TlsPeer& peer)
{
    if (!IsConnected()) {
        m_nTlsFailure = TlsFailure::kHandshake;
        return false;
    }
    // Bytes that came in clear after the answer to STLS would be taken as
    // the server's once encrypted: someone in the middle put them there.
    if (!m_unit.empty() || m_pSocket->bytesAvailable() > 0) {
        m_nTlsFailure = TlsFailure::kInjected;
        return false;
    }
    QSslSocket* socket = PrepareTls(peer);
    if (!socket)
        return false;
    m_bHandshaking = true;
    socket->startClientEncryption();
    return true;
}

bool CClientSocket::ConnectEncrypted(const std::string& host, uint16_t port)
{
    if (!m_bTlsOnConnect)
        return false;
    static_cast<QSslSocket*>(m_pSocket)->connectToHostEncrypted(QString::fromStdString(host), port);
    return true;
}

std::string CClientSocket::EncryptionDescription() const
{
    auto* socket = qobject_cast<QSslSocket*>(m_pSocket);
    if (!socket || !socket->isEncrypted())
        return std::string();
    const QSslCipher cipher = socket->sessionCipher();
    return (cipher.protocolString() + QStringLiteral(", ") + cipher.name()).toStdString();
}

void CClientSocket::OnEncrypted()
{
    if (m_bHandshaking) {
        m_bHandshaking = false;
        if (m_pEvents)
            m_pEvents->OnEncrypted(this, true);
    } else if (m_bTlsOnConnect && m_bConnecting) {
        m_bConnecting = false;
        if (m_pEvents)
            m_pEvents->OnConnected(this, true);
    }
}

void CClientSocket::OnSslErrors(const QList<QSslError>& errors)
{
    // Not ignored: the socket ends the handshake with an error next.
    m_nTlsFailure = ReasonOf(errors);
}

bool CClientSocket::HandshakeBroken()
{
    const bool implicitUnderWay = m_bTlsOnConnect && m_bConnecting && m_bTcpUp;
    if (!implicitUnderWay && !m_bHandshaking)
        return false;
    if (m_nTlsFailure == TlsFailure::kNone)
        m_nTlsFailure = TlsFailure::kHandshake;
    HandshakeFailed();
    return true;
}

void CClientSocket::HandshakeFailed()
{
    if (m_bHandshaking) {
        m_bHandshaking = false;
        if (m_pEvents)
            m_pEvents->OnEncrypted(this, false);
    } else if (m_bConnecting) {
        m_bConnecting = false;
        if (m_pEvents)
            m_pEvents->OnConnected(this, false);
    }
}
