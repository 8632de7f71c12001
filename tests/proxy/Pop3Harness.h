// Test harness of the proxy: a scripted POP3 server and a mail client, both
// inside the test process on 127.0.0.1, and a hub listening on an ephemeral
// port. Everything runs on the one event loop; Wait* helpers turn it.
#pragma once

#include "proxy/Sockets.h"
#include "support/HubFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

namespace harness {

// Turns the event loop until `done` holds or `ms` have passed.
bool WaitUntil(const std::function<bool()>& done, int ms = 3000);
// Turns the event loop for `ms`.
void Spin(int ms);

struct Message {
    std::string text;  // as sent after the status line, without the closing line
    std::string uidl;
    int32_t announced = -1; // RETR's "+OK %d octets"; -1: the text's size
    int32_t listed = -1;    // LIST's size; -1: the text's size
};

class ScriptedServer;

// One connection of the scripted server.
class ServerConnection : public QObject
{
public:
    ServerConnection(ScriptedServer& owner, QTcpSocket* socket);
    void Send(const std::string& bytes);
    void Close();
    QTcpSocket* socket;
    std::string received;

private:
    void OnReadyRead();
    ScriptedServer& m_owner;
    std::string m_partial;
};

class ScriptedServer : public QObject
{
public:
    ScriptedServer();
    uint16_t Port() const { return m_server.serverPort(); }

    // The default answer to one command line (without its line end).
    std::string DefaultAnswer(const std::string& line);
    // All bytes received over all connections, in order.
    std::string Received() const;
    int Connections() const { return static_cast<int>(m_connections.size()); }
    ServerConnection* Last() const { return m_connections.empty() ? nullptr : m_connections.back().get(); }

    std::string greeting = "+OK scripted POP3 ready\r\n";
    bool sendGreeting = true;
    bool uidl = true;
    // CAPA lists PIPELINING (the proxy then keeps several RETR outstanding).
    bool pipelining = false;
    std::vector<Message> mailbox;
    // Messages (1-based) deleted in the current session: they keep their
    // numbers and are no longer listed; QUIT makes the deletions final.
    std::set<int> deleted;
    // The UIDLs of the messages whose deletion QUIT made final.
    std::vector<std::string> expunged;
    // A hook that may answer a line itself (return true) before the default.
    std::function<bool(ServerConnection&, const std::string& line)> hook;

    void OnLine(ServerConnection& connection, const std::string& line);

private:
    QTcpServer m_server;
    std::vector<std::unique_ptr<ServerConnection>> m_connections;
};

class Client : public QObject
{
public:
    explicit Client(uint16_t port);
    void Send(const std::string& bytes);
    bool WaitFor(const std::string& needle, int ms = 3000);
    bool WaitReceived(size_t bytes, int ms = 3000);
    bool WaitClosed(int ms = 3000);
    std::string received;
    bool closed = false;
    QTcpSocket socket;
};

// A hub listening on 127.0.0.1, quiet, with a pinned clock, a kept log and
// short timers.
std::unique_ptr<CMainDialog> MakeHub();
std::string Log(const CMainDialog& hub);
// "USER name(127.0.0.1:port)\r\n"
std::string UserLine(const std::string& name, uint16_t port);
uint16_t HubPort(const CMainDialog& hub);

} // namespace harness

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace harness {

// Each test runs in a fresh folder holding the rule file (empty unless a
// test writes one), with a hub, a scripted server and helpers to log in.
class ProxyTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the rule file the analysis reads.
    void WriteRules(const std::string& content);
    // Connects a client and waits for the proxy's greeting.
    std::unique_ptr<Client> Connect();
    // Connects and logs in with USER/PASS through the proxy.
    std::unique_ptr<Client> LoggedIn(const std::string& user = "alice");
    // A small message with a header and a body.
    static std::string Mail(const std::string& subject, const std::string& body = "Hello.\r\n");
    std::string Stamp(const std::string& text) const { return "(10:00:00) " + text; }

    QTemporaryDir m_dir;
    QString m_oldDir;
    std::unique_ptr<CMainDialog> hub;
    std::unique_ptr<ScriptedServer> server;
};

} // namespace harness
