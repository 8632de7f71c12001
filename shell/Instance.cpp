#include "shell/Instance.h"

#include "base/Paths.h"
#include "base/Texts.h"
#include "shell/ProxyApp.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <unistd.h>

namespace {

// What a later start sends, one line, and what the running copy answers.
constexpr char kShowRequest[] = "show\n";
constexpr char kPingRequest[] = "ping\n";
constexpr char kShownAnswer[] = "shown\n";
constexpr char kRunningAnswer[] = "running\n";
constexpr int kWaitMs = 2000;

} // namespace

CInstanceGuard::CInstanceGuard(std::string folder, QObject* parent) : QObject(parent), m_strFolder(std::move(folder))
{
}

CInstanceGuard::~CInstanceGuard()
{
    if (m_pServer)
        m_pServer->close(); // removes the socket file
}

std::string CInstanceGuard::SocketPath(const std::string& folder)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha1).toHex().left(16);
    return (dir + QStringLiteral("/orvelane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest))).toStdString();
}

CInstanceGuard::EClaim CInstanceGuard::Claim(bool askToShow)
{
    const QString path = QString::fromStdString(SocketPath(m_strFolder));
    // Two starts at once: one looks and takes the place while the other
    // waits, so that neither removes the other's socket. A lock left by a
    // process that died is taken over.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kWaitMs))
        return EClaim::kUnavailable;

    QLocalSocket other;
    other.connectToServer(path);
    if (other.waitForConnected(kWaitMs)) {
        other.write(askToShow ? kShowRequest : kPingRequest);
        other.waitForBytesWritten(kWaitMs);
        QByteArray answer;
        while (!answer.contains('\n') && other.waitForReadyRead(kWaitMs))
            answer += other.readAll();
        return askToShow && answer == kShownAnswer ? EClaim::kShown : EClaim::kRunning;
    }

    // Nobody answers: a socket left behind is stale.
    QLocalServer::removeServer(path);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_pServer->listen(path)) {
        delete m_pServer;
        m_pServer = nullptr;
        return EClaim::kUnavailable;
    }
    connect(m_pServer, &QLocalServer::newConnection, this, &CInstanceGuard::OnConnection);
    return EClaim::kFirst;
}

void CInstanceGuard::OnConnection()
{
    while (QLocalSocket* peer = m_pServer->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            if (!peer->canReadLine()) {
                // One short line is all a start sends.
                if (peer->bytesAvailable() > 64)
                    peer->abort();
                return;
            }
            const QByteArray request = peer->readLine(64);
            const bool shown = request == kShowRequest && m_onShowRequest && m_onShowRequest();
            peer->write(shown ? kShownAnswer : kRunningAnswer);
            peer->disconnectFromServer();
        });
    }
}

std::string InstanceFolder(const std::vector<std::string>& args)
{
    if (!CProxyApp::IsDefaultSwitch(args)) {
        const std::string here = CurrentDirectory();
        if (::access(FindFile(here, txt::kSettingsFileName).c_str(), R_OK) == 0)
            return here;
    }
    return ConfigFolder();
}

std::string InstanceMessage(CInstanceGuard::EClaim claim, const std::string& folder)
{
    switch (claim) {
    case CInstanceGuard::EClaim::kShown:
        return "orvelane: already running (settings in " + folder + "); its window is shown.\n";
    case CInstanceGuard::EClaim::kRunning:
        return "orvelane: already running (settings in " + folder + "); this copy ends.\n";
    default:
        return {};
    }
}
