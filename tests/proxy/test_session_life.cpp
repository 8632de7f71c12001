// Acceptance, greeting, disconnection and the server connection's opening.
#include "Pop3Harness.h"

#include "base/Format.h"

#include <QDir>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QSslConfiguration>
#include <QSslSocket>

using namespace harness;

namespace {

std::string Accepted(uint16_t port)
{
    return StrFormat("Connexion du client de 127.0.0.1 sur Orvelane:%d accept\xE9" "e\r\n", port);
}

} // namespace

class SessionLife : public ProxyTest
{
};

TEST_F(SessionLife, SilentClientGetsTheBannerAndNoServerConnection)
{
    auto client = Connect();
    Spin(50);
    EXPECT_EQ(client->received, "+OK Orvelane Server V2.20\r\n");
    EXPECT_EQ(server->Connections(), 0);
    EXPECT_EQ(Log(*hub), Stamp(StrFormat("\xC9" "coute sur 127.0.0.1:%d\r\n", HubPort(*hub))) +
                             Stamp("-- Checking mails\r\n") + Stamp(Accepted(HubPort(*hub))) +
                             Stamp("N\xB0" "1 - C<-O   P | +OK Orvelane Server V2.20\r\n"));
    ASSERT_EQ(hub->Connections().Entries().size(), 1u);
    EXPECT_EQ(hub->Connections().Entries()[0], "127.0.0.1");
    EXPECT_TRUE(hub->Tray().m_bBusy);
}

TEST_F(SessionLife, IndexIsThePositionInTheListNotTheNumber)
{
    auto first = Connect();
    auto second = Connect();
    EXPECT_EQ(hub->Connections().Entries(), (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
    ASSERT_EQ(hub->Proxy().m_sessions.count(), 2);
    EXPECT_EQ(hub->Proxy().m_sessions.head()->m_nNumber, 1);
    EXPECT_EQ(hub->Proxy().m_sessions.tail()->m_nNumber, 2);

    first->socket.disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.count() == 1; }));
    EXPECT_NE(Log(*hub).find(Stamp("N\xB0" "1 D\xE9" "connect\xE9\r\n")), std::string::npos);
    EXPECT_EQ(hub->Connections().Entries(), (std::vector<std::string>{"127.0.0.1"}));
    EXPECT_TRUE(hub->Tray().m_bBusy);

    // The second session (number 2) now traces with index 1.
    second->Send("CAPA\r\n");
    ASSERT_TRUE(second->WaitFor(".\r\n"));
    EXPECT_NE(Log(*hub).find("N\xB0" "1 - C<-O   P | +OK Capability list follows"), std::string::npos);

    second->socket.disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));
    EXPECT_TRUE(hub->Connections().Entries().empty());
    EXPECT_FALSE(hub->Tray().m_bBusy);
}

TEST_F(SessionLife, ServerCloseClosesTheClientAndClientCloseTheServer)
{
    auto client = LoggedIn();
    server->Last()->Close();
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));

    auto other = LoggedIn();
    other->socket.disconnectFromHost();
    EXPECT_TRUE(WaitUntil([&] { return server->Last()->socket->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(hub->Proxy().m_sessions.empty());
}

TEST_F(SessionLife, QuitReachesTheServerAndItsAnswerTheClient)
{
    auto client = LoggedIn();
    client->Send("QUIT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_TRUE(client->received.ends_with("+OK logged in\r\n+OK bye\r\n"));
    EXPECT_EQ(server->Received(), StrFormat("USER alice\r\nPASS secret\r\nQUIT\r\n"));
    EXPECT_NE(Log(*hub).find("N\xB0" "1 - C   O->P | PASS *****\r\n"), std::string::npos);
    EXPECT_EQ(Log(*hub).find("secret"), std::string::npos);
}

TEST_F(SessionLife, ConnectFailureEndsTheSessionWithItsLine)
{
    auto client = Connect();
    // A port nobody listens on: bind one and close it again.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const uint16_t deadPort = probe.serverPort();
    probe.close();
    client->Send(UserLine("alice", deadPort));
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received,
              StrFormat("+OK Orvelane Server V2.20\r\n-ERR [SYS/TEMP] cannot reach 127.0.0.1:%d\r\n", deadPort));
    const std::string log = Log(*hub);
    EXPECT_NE(log.find(Stamp(StrFormat("La connexion \xE0 127.0.0.1:%d (POP3) a \xE9" "chou\xE9" "e\r\n", deadPort))),
              std::string::npos);
    EXPECT_EQ(log.find("D\xE9" "connect\xE9"), std::string::npos);
    EXPECT_TRUE(hub->Proxy().m_sessions.empty());
    EXPECT_TRUE(hub->Connections().Entries().empty());
    EXPECT_FALSE(hub->Tray().m_bBusy);
}

TEST_F(SessionLife, OutOfRangePortFailsLikeAConnection)
{
    auto client = Connect();
    client->Send("USER alice(127.0.0.1:99999)\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_TRUE(client->received.ends_with("-ERR [SYS/TEMP] cannot reach 127.0.0.1:99999\r\n"));
    EXPECT_NE(Log(*hub).find("La connexion \xE0 127.0.0.1:99999 (POP3) a \xE9" "chou\xE9" "e\r\n"), std::string::npos);
}

TEST_F(SessionLife, ThePopServerSettingNamesHostAndPortOrNothing)
{
    // POPServer=host:port is where a plain USER login goes.
    hub->Settings().m_strPopServer = StrFormat("127.0.0.1:%d", server->Port());
    auto client = Connect();
    client->Send("USER alice\r\n");
    EXPECT_TRUE(client->WaitFor("+OK send PASS\r\n"));
    // Without a server named anywhere the client hears why.
    hub->Settings().m_strPopServer.clear();
    auto lost = Connect();
    lost->Send("USER alice\r\n");
    ASSERT_TRUE(lost->WaitClosed());
    EXPECT_TRUE(lost->received.ends_with("-ERR [SYS/PERM] no POP3 server named: set POPServer in Orvelane.ini "
                                         "or log in as user(host:port)\r\n"));
    // A v6 address without brackets whose last group may be a port is not
    // guessed at, in the setting or in the login.
    hub->Settings().m_strPopServer = "::1:23290";
    for (const char* user : {"USER alice\r\n", "USER alice(::1:23290)\r\n"}) {
        auto refused = Connect();
        refused->Send(user);
        ASSERT_TRUE(refused->WaitClosed());
        EXPECT_TRUE(refused->received.ends_with("-ERR [SYS/PERM] ambiguous POP3 server ::1:23290: write an IPv6 "
                                                "address in brackets, as in [::1]:23290\r\n"))
            << refused->received;
    }
    EXPECT_NE(Log(*hub).find(Stamp("Nom de serveur POP3 ambigu : ::1:23290 (une adresse IPv6 s'\xE9" "crit entre "
                                   "crochets, par exemple [::1]:23290)\r\n")),
              std::string::npos);
}

TEST_F(SessionLife, TheLastAnswerEndsInACleanCloseWhateverTheClientStillSends)
{
    // A client of its own socket: it keeps its end open after the proxy's.
    hub->Settings().m_strPopServer.clear();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(HubPort(*hub));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    std::string received;
    bool ended = false;
    auto read = [&] {
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            received.append(buffer, static_cast<size_t>(n));
        ended = ended || n == 0;
        return ended;
    };
    auto send = [&](const char* line) { return ::send(fd, line, std::strlen(line), MSG_NOSIGNAL) > 0; };
    ASSERT_TRUE(WaitUntil([&] { return read(), received.find("\r\n") != std::string::npos; }));
    ASSERT_TRUE(send("USER alice\r\n"));
    ASSERT_TRUE(WaitUntil(read));
    EXPECT_TRUE(received.ends_with("user(host:port)\r\n")) << received;
    // Commands after the end are taken and dropped: no reset comes back.
    EXPECT_TRUE(send("QUIT\r\n"));
    Spin(100);
    EXPECT_TRUE(send("QUIT\r\n"));
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    EXPECT_EQ(error, 0) << std::strerror(error);
    ::close(fd);
}

TEST_F(SessionLife, ASilentServerNeverLeavesTheClientWaiting)
{
    // Every relayed command, and the login itself after the greeting, gets
    // "-ERR" once the server has been silent past the limit.
    for (const std::string command : {"NOOP", "DELE 1", "QUIT", "USER"}) {
        SCOPED_TRACE(command);
        server->hook = [command](ServerConnection&, const std::string& line) { return line.starts_with(command); };
        std::unique_ptr<Client> client;
        if (command == "USER") {
            client = Connect();
            client->received.clear();
            client->Send(UserLine("alice", server->Port()));
        } else {
            client = LoggedIn();
            client->received.clear();
            client->Send(command + "\r\n");
        }
        ASSERT_TRUE(client->WaitClosed(3000));
        EXPECT_EQ(client->received, "-ERR POP3 server not responding\r\n");
    }
    EXPECT_NE(Log(*hub).find("Le serveur POP3 ne r\xE9pond plus"), std::string::npos);
}

TEST_F(SessionLife, ClientsBeyondMaxConnectionsAreToldAndClosed)
{
    hub->Settings().m_nMaxConnections = 1;
    auto first = Connect();
    Client second(HubPort(*hub));
    ASSERT_TRUE(second.WaitClosed());
    EXPECT_EQ(second.received, "-ERR [SYS/TEMP] too many connections\r\n");
    EXPECT_NE(Log(*hub).find("Connexion de 127.0.0.1 refus\xE9" "e : 1 clients d\xE9j\xE0 connect\xE9s\r\n"),
              std::string::npos);
    EXPECT_EQ(hub->Proxy().m_sessions.count(), 1);
    // Once the first has gone, there is room again.
    first->socket.disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));
    auto third = Connect();
    EXPECT_EQ(third->received, "+OK Orvelane Server V2.20\r\n");
}

// Under auto, a silent server may be one on a TLS-only port: the answer
// says what to set.
TEST_F(SessionLife, ServerThatNeverGreetsIsGivenUpAfterTheLimit)
{
    const struct {
        ServerSecurity security;
        const char* end;
    } rows[] = {
        {ServerSecurity::kNone, "did not greet\r\n"},
        {ServerSecurity::kAuto, "did not greet: if it expects TLS from the first byte, set ServerSecurity=tls\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.end);
        hub = MakeHub();
        server = std::make_unique<ScriptedServer>();
        hub->Settings().m_nServerSecurity = row.security;
        server->sendGreeting = false;
        auto client = Connect();
        client->Send(UserLine("alice", server->Port()));
        ASSERT_TRUE(client->WaitClosed(3000));
        EXPECT_TRUE(client->received.ends_with(StrFormat("-ERR [SYS/TEMP] 127.0.0.1:%d ", server->Port()) + row.end))
            << client->received;
        EXPECT_NE(Log(*hub).find(StrFormat("La connexion \xE0 127.0.0.1:%d (POP3)", server->Port())), std::string::npos);
        EXPECT_EQ(server->Received(), "");
    }
}

TEST_F(SessionLife, GreetingReleasesTheHeldUserLineAndIsWithheld)
{
    hub->Settings().m_nMaxLogSize = 0; // the log then holds the current check only
    auto client = Connect();
    client->Send(UserLine("alice", server->Port()));
    ASSERT_TRUE(client->WaitFor("+OK send PASS\r\n"));
    EXPECT_EQ(client->received, "+OK Orvelane Server V2.20\r\n+OK send PASS\r\n");
    EXPECT_EQ(server->Received(), "USER alice\r\n");
    const uint16_t port = server->Port();
    EXPECT_EQ(Log(*hub), Stamp("N\xB0" "1 - C   O->P | USER alice\r\n") +
                             Stamp(StrFormat("N\xB0" "1 - Connection \xE0 127.0.0.1:%d\r\n", port)) +
                             Stamp("N\xB0" "1 - C<-O   P | +OK scripted POP3 ready\r\n") +
                             Stamp("N\xB0" "1 - C<-O   P | +OK send PASS\r\n"));
}

TEST(Listener, PortInUseIsReportedAndStartupGoesOn)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    CMainDialog hub;
    hub.LogWriter().SetEcho(false);
    hub.Settings().m_nListenPort = taken.serverPort();
    hub.Settings().m_strListenAddress = "127.0.0.1";
    int shown = 0;
    std::string text, caption;
    hub.SetMessageBox([&](const std::string& t, const std::string& c) {
        ++shown;
        text = t;
        caption = c;
    });
    hub.OpenListener();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(text, StrFormat("Ouverture du port %d en local impossible", taken.serverPort()));
    EXPECT_EQ(caption, "Socket Error");
    EXPECT_NE(std::string(hub.Log().Text()).find(text + "\r\n"), std::string::npos);
}

TEST(Listener, DefaultPortKeepsItsOwnText)
{
    CMainDialog hub;
    hub.LogWriter().SetEcho(false);
    hub.Settings().m_strListenAddress = "not an address";
    std::string text;
    hub.SetMessageBox([&](const std::string& t, const std::string&) { text = t; });
    hub.OpenListener();
    EXPECT_EQ(text, "Ouverture du port 110 en local impossible");
}

TEST(Listener, DefaultAddressIsTheLoopbackOfBothFamilies)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
        GTEST_SKIP() << "no IPv6 loopback here";
    probe.close();
    CMainDialog hub;
    QuietHub(hub, PinnedTime(10, 0, 0));
    hub.Settings().m_nListenPort = 0;
    hub.OpenListener();
    const uint16_t port = hub.Proxy().Port();
    EXPECT_EQ(std::string(hub.Log().Text()), StrFormat("(10:00:00) \xC9" "coute sur 127.0.0.1:%d\r\n", port) +
                                                 StrFormat("(10:00:00) \xC9" "coute sur [::1]:%d\r\n", port));
    QTcpSocket v6;
    v6.connectToHost(QHostAddress::LocalHostIPv6, port);
    ASSERT_TRUE(WaitUntil([&] { return v6.bytesAvailable() > 0; }));
    EXPECT_EQ(v6.readAll().toStdString(), "+OK Orvelane Server V2.20\r\n");
}

TEST_F(SessionLife, LastAnswerWithoutLineEndStillReachesTheClient)
{
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "QUIT")
            return false;
        c.Send("+OK bye");
        c.Close();
        return true;
    };
    auto client = LoggedIn();
    client->received.clear();
    client->Send("QUIT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received, "+OK bye");
}

// What a mail client may not do: send a line without end past 64 KB, or
// stay silent past the idle limit. Waiting on the server is not silence.
TEST_F(SessionLife, ClientLimits)
{
    auto client = Connect();
    client->Send("NOOP" + std::string(70000, 'x'));
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received, "+OK Orvelane Server V2.20\r\n-ERR line too long\r\n");
    EXPECT_NE(Log(*hub).find("Ligne du client de plus de 64 Ko"), std::string::npos);

    // A line cut across two writes is one line.
    client = Connect();
    client->Send("CAPA\r\nCA");
    ASSERT_TRUE(client->WaitFor(".\r\n"));
    client->Send("PA\r\n");
    ASSERT_TRUE(WaitUntil([&] { return client->received.find(".\r\n") != client->received.rfind(".\r\n"); }));

    hub->Proxy().m_nIdleMs = 150;
    client = Connect();
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received, "+OK Orvelane Server V2.20\r\n");
    EXPECT_NE(Log(*hub).find("Client inactif depuis"), std::string::npos);

    server->hook = [](ServerConnection&, const std::string& line) { return line == "STAT"; };
    client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received, "-ERR POP3 server not responding\r\n");
}

// With no file descriptor left the listener pauses instead of being woken
// again and again for the same connection, and takes clients again once
// descriptors are free.
TEST_F(SessionLife, OutOfFileDescriptorsPausesAccepting)
{
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    const auto openNow = static_cast<rlim_t>(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
    rlimit low = old;
    low.rlim_cur = openNow + 8;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 8 && Log(*hub).find("Plus de descripteur") == std::string::npos; ++i) {
        clients.push_back(std::make_unique<Client>(HubPort(*hub)));
        Spin(50);
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    Spin(500);
    getrusage(RUSAGE_SELF, &after);
    const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) + (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                       (after.ru_stime.tv_sec - before.ru_stime.tv_sec) + (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_NE(Log(*hub).find("Plus de descripteur de fichier libre"), std::string::npos);
    EXPECT_LT(cpu, 0.12); // woken for the same connection again and again: 0.19 here
    // Descriptors are free again: the waiting client is taken.
    ASSERT_TRUE(clients.back()->WaitFor("+OK Orvelane", 3000));
}

// Encrypted server connections need Qt's OpenSSL backend at run time and the
// system's trust store.
TEST(Tls, TheTlsBackendAndTheTrustStoreAreThere)
{
    EXPECT_TRUE(QSslSocket::supportsSsl()) << QSslSocket::activeBackend().toStdString();
    EXPECT_FALSE(QSslConfiguration::systemCaCertificates().isEmpty());
}
