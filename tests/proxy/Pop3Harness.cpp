#include "Pop3Harness.h"

#include "base/Format.h"

#include <QEventLoop>
#include <QThread>

namespace harness {

bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::usleep(200);
    }
    return true;
}

void Spin(int ms)
{
    WaitUntil([] { return false; }, ms);
}

ServerConnection::ServerConnection(ScriptedServer& owner, QTcpSocket* s) : socket(s), m_owner(owner)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &ServerConnection::OnReadyRead);
}

void ServerConnection::Send(const std::string& bytes)
{
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void ServerConnection::Close()
{
    socket->disconnectFromHost();
}

void ServerConnection::OnReadyRead()
{
    const QByteArray data = socket->readAll();
    received.append(data.constData(), static_cast<size_t>(data.size()));
    m_partial.append(data.constData(), static_cast<size_t>(data.size()));
    size_t lf;
    while ((lf = m_partial.find('\n')) != std::string::npos) {
        std::string line = m_partial.substr(0, lf);
        m_partial.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        m_owner.OnLine(*this, line);
    }
}

ScriptedServer::ScriptedServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (m_server.hasPendingConnections()) {
            m_connections.push_back(std::make_unique<ServerConnection>(*this, m_server.nextPendingConnection()));
            if (sendGreeting)
                m_connections.back()->Send(greeting);
        }
    });
}

std::string ScriptedServer::Received() const
{
    std::string all;
    for (const auto& c : m_connections)
        all += c->received;
    return all;
}

void ScriptedServer::OnLine(ServerConnection& connection, const std::string& line)
{
    if (hook && hook(connection, line))
        return;
    connection.Send(DefaultAnswer(line));
    if (line == "QUIT")
        connection.Close();
}

std::string ScriptedServer::DefaultAnswer(const std::string& line)
{
    auto size = [](const Message& m, int32_t v) { return v >= 0 ? v : static_cast<int32_t>(m.text.size()); };
    const std::string word = line.substr(0, line.find(' '));
    int n = 0;
    const bool hasNumber = line.find(' ') != std::string::npos && (n = std::atoi(line.c_str() + line.find(' ') + 1)) > 0;
    const bool exists = hasNumber && n <= static_cast<int>(mailbox.size()) && !deleted.count(n);
    if (word == "USER")
        return "+OK send PASS\r\n";
    if (word == "PASS")
        return "+OK logged in\r\n";
    const int count = static_cast<int>(mailbox.size() - deleted.size());
    if (word == "STAT") {
        int64_t total = 0;
        for (size_t i = 0; i < mailbox.size(); ++i)
            if (!deleted.count(static_cast<int>(i + 1)))
                total += size(mailbox[i], mailbox[i].listed);
        return StrFormat("+OK %d %d\r\n", count, static_cast<int>(total));
    }
    if (word == "LIST" && hasNumber)
        return exists ? StrFormat("+OK %d %d\r\n", n, size(mailbox[n - 1], mailbox[n - 1].listed))
                      : "-ERR no such message\r\n";
    if (word == "LIST") {
        std::string out = StrFormat("+OK %d messages\r\n", count);
        for (size_t i = 0; i < mailbox.size(); ++i)
            if (!deleted.count(static_cast<int>(i + 1)))
                out += StrFormat("%d %d\r\n", static_cast<int>(i + 1), size(mailbox[i], mailbox[i].listed));
        return out + ".\r\n";
    }
    if (word == "UIDL" && !hasNumber) {
        if (!uidl)
            return "-ERR command not supported\r\n";
        std::string out = "+OK\r\n";
        for (size_t i = 0; i < mailbox.size(); ++i)
            if (!deleted.count(static_cast<int>(i + 1)))
                out += StrFormat("%d %s\r\n", static_cast<int>(i + 1), mailbox[i].uidl.c_str());
        return out + ".\r\n";
    }
    if (word == "RETR") {
        if (!exists)
            return "-ERR no such message\r\n";
        const Message& m = mailbox[static_cast<size_t>(n - 1)];
        return StrFormat("+OK %d octets\r\n", size(m, m.announced)) + m.text + ".\r\n";
    }
    if (word == "DELE") {
        if (!exists)
            return "-ERR no such message\r\n";
        deleted.insert(n);
        return "+OK deleted\r\n";
    }
    if (word == "RSET")
        deleted.clear();
    if (word == "NOOP" || word == "RSET")
        return "+OK\r\n";
    if (word == "QUIT") {
        for (int d : deleted)
            expunged.push_back(mailbox[static_cast<size_t>(d - 1)].uidl);
        deleted.clear();
        return "+OK bye\r\n";
    }
    if (word == "CAPA")
        return std::string("+OK Capability list follows\r\nTOP\r\nUSER\r\n") + (pipelining ? "PIPELINING\r\n" : "") +
               "STLS\r\nSASL PLAIN LOGIN\r\nUIDL\r\n.\r\n";
    return "-ERR unknown command\r\n";
}

Client::Client(uint16_t port)
{
    connect(&socket, &QTcpSocket::readyRead, this, [this] {
        const QByteArray data = socket.readAll();
        received.append(data.constData(), static_cast<size_t>(data.size()));
    });
    connect(&socket, &QTcpSocket::disconnected, this, [this] { closed = true; });
    socket.connectToHost(QHostAddress::LocalHost, port);
}

void Client::Send(const std::string& bytes)
{
    WaitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; });
    socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket.flush();
}

bool Client::WaitFor(const std::string& needle, int ms)
{
    return WaitUntil([&] { return received.find(needle) != std::string::npos; }, ms);
}

bool Client::WaitReceived(size_t bytes, int ms)
{
    return WaitUntil([&] { return received.size() >= bytes; }, ms);
}

bool Client::WaitClosed(int ms)
{
    return WaitUntil([&] { return closed; }, ms);
}

std::unique_ptr<CMainDialog> MakeHub()
{
    auto hub = std::make_unique<CMainDialog>();
    QuietHub(*hub, PinnedTime(10, 0, 0));
    hub->Settings().m_nMaxLogSize = 1 << 30;
    hub->Settings().m_nListenPort = 0;
    hub->Settings().m_strListenAddress = "127.0.0.1";
    hub->Settings().m_strPopServer = "127.0.0.1";
    // The scripted server speaks plain POP3 and answers no CAPA before the
    // login; the tests of the encryption choose their mode themselves.
    hub->Settings().m_nServerSecurity = ServerSecurity::kNone;
    hub->Proxy().m_nGraceMs = 150;
    hub->Proxy().m_nSilenceMs = 400;
    hub->SetMessageBox([](const std::string&, const std::string&) {});
    hub->OpenListener();
    return hub;
}

std::string Log(const CMainDialog& hub)
{
    return std::string(hub.Log().Text());
}

std::string UserLine(const std::string& name, uint16_t port)
{
    return StrFormat("USER %s(127.0.0.1:%d)\r\n", name.c_str(), static_cast<int>(port));
}

uint16_t HubPort(const CMainDialog& hub)
{
    return hub.Proxy().Port();
}

} // namespace harness

#include <fstream>

namespace harness {

void ProxyTest::SetUp()
{
    m_oldDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    WriteRules("");
    hub = MakeHub();
    server = std::make_unique<ScriptedServer>();
}

void ProxyTest::TearDown()
{
    hub.reset();
    server.reset();
    Spin(5);
    QDir::setCurrent(m_oldDir);
}

void ProxyTest::WriteRules(const std::string& content)
{
    std::ofstream out((m_dir.path() + "/blacklist.txt").toStdString(), std::ios::binary);
    out << content;
}

std::unique_ptr<Client> ProxyTest::Connect()
{
    auto client = std::make_unique<Client>(HubPort(*hub));
    EXPECT_TRUE(client->WaitFor("\r\n"));
    return client;
}

std::unique_ptr<Client> ProxyTest::LoggedIn(const std::string& user)
{
    auto client = Connect();
    client->Send(UserLine(user, server->Port()));
    EXPECT_TRUE(client->WaitFor("+OK send PASS\r\n"));
    client->Send("PASS secret\r\n");
    EXPECT_TRUE(client->WaitFor("+OK logged in\r\n"));
    return client;
}

std::string ProxyTest::Mail(const std::string& subject, const std::string& body)
{
    return "Return-Path: <sender@example.org>\r\nFrom: sender@example.org\r\nTo: alice@example.org\r\n"
           "Subject: " +
           subject + "\r\n\r\n" + body;
}

} // namespace harness
