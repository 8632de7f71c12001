// A server out of step with the proxy's commands: a status line nobody asked
// for, garbage answering a relayed command, a line that never ends. The
// session ends without QUIT, the client gets the protocol error, and nothing
// of that scan is kept.
#include "Pop3Harness.h"

#include "base/Format.h"

#include <QTimer>

using namespace harness;

namespace {

constexpr char kProtocolError[] = "-ERR [SYS/TEMP] protocol error from the POP3 server: ";

} // namespace

class OutOfStep : public ProxyTest
{
protected:
    // The session ended over a protocol error: the client was told, the
    // server heard no QUIT, and no copy is left.
    void ExpectBroken(Client& client)
    {
        ASSERT_TRUE(client.WaitClosed());
        EXPECT_NE(client.received.find(kProtocolError), std::string::npos) << client.received;
        EXPECT_TRUE(client.received.ends_with("\r\n"));
        EXPECT_EQ(server->Received().find("QUIT"), std::string::npos) << server->Received();
        EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    }
};

// One unasked status line after the answer to `at`: sent just before the
// answer to the next command (the proxy has asked it by then), or `delay`
// ms later on its own. It must never pass for the next answer: the client
// would get one message under another's number, and delete the wrong one.
TEST_F(OutOfStep, AStrayStatusLineAfterAnAnswerEndsTheSession)
{
    constexpr int kBeforeNext = -1;
    struct Row {
        const char* at;
        const char* answer; // null: the right one
        const char* stray;
        int delay;
        bool pipelining;
    };
    const Row rows[] = {
        {"UIDL", nullptr, "+OK\r\n", kBeforeNext, false},
        {"UIDL", nullptr, "+OK\r\n", kBeforeNext, true},
        {"RETR 1", nullptr, "+OK\r\n", kBeforeNext, false},
        {"RETR 1", nullptr, "+OK\r\n", kBeforeNext, true},
        {"RETR 1", "-ERR a\r\n", "-ERR b\r\n", 300, false},
        {"RETR 1", "-ERR a\r\n", "-ERR b\r\n", 300, true},
        {"PASS x", nullptr, "-ERR b\r\n", 300, false},
    };
    for (const Row& row : rows) {
        const std::string at = row.at;
        SCOPED_TRACE(at + " then " + std::string(row.stray, 4) + (row.pipelining ? " pipelined" : ""));
        hub = MakeHub();
        server = std::make_unique<ScriptedServer>();
        server->pipelining = row.pipelining;
        server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}, {Mail("Three"), "u3"}};
        bool pending = false, done = false;
        server->hook = [&](ServerConnection& c, const std::string& line) {
            if (pending) {
                pending = false;
                c.Send(row.stray + server->DefaultAnswer(line));
                return true;
            }
            if (line != at || done)
                return false;
            done = true;
            c.Send(row.answer ? std::string(row.answer) : server->DefaultAnswer(line));
            if (row.delay == kBeforeNext)
                pending = true;
            else
                QTimer::singleShot(row.delay, &c, [&c, &row] { c.Send(row.stray); });
            return true;
        };
        auto client = Connect();
        const auto broken = [&] { return client->received.find(kProtocolError) != std::string::npos; };
        // A late line comes before the client's next command.
        const auto late = [&] {
            if (row.delay != kBeforeNext)
                Spin(row.delay + 100);
        };
        client->Send(UserLine("alice", server->Port()) + "PASS x\r\n");
        ASSERT_TRUE(client->WaitFor("+OK logged in\r\n"));
        if (at == "PASS x")
            late();
        if (!broken()) {
            const size_t before = client->received.size();
            client->Send("STAT\r\n");
            ASSERT_TRUE(WaitUntil([&] { return client->received.find("\r\n", before) != std::string::npos; }));
            if (at != "PASS x")
                late();
        }
        // A client that was served deletes what it received.
        if (!broken())
            client->Send("RETR 1\r\nDELE 1\r\nQUIT\r\n");
        ExpectBroken(*client);
        EXPECT_EQ(server->Received().find("DELE"), std::string::npos);
    }
}

// What answers a relayed command is held to the scan's rules: the client
// gets the protocol error, never the server's garbage, and its QUIT waiting
// behind the command never reaches the server.
TEST_F(OutOfStep, ABrokenAnswerToARelayedCommandEndsTheSession)
{
    const struct {
        const char* command;
        bool scanned; // the command comes after a scan
        const char* answer;
        const char* passed; // what of the answer was owed
        const char* why;
    } rows[] = {
        {"NOOP", false, "what?\r\n", "", "status line is neither +OK nor -ERR"},
        {"DELE 1", true, "OK deleted\r\n", "", "status line is neither +OK nor -ERR"},
        {"NOOP", true, "+OK\r\n+OK\r\n", "+OK\r\n", "bytes that answer no command"},
        {"UIDL", false, "+OK\r\n+OK\r\n1 u1\r\n.\r\n", "+OK\r\n", "two status lines for one answer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command);
        hub = MakeHub();
        server = std::make_unique<ScriptedServer>();
        server->mailbox = {{Mail("One"), "u1"}};
        const std::string command = row.command;
        server->hook = [&](ServerConnection& c, const std::string& line) {
            if (line != command)
                return false;
            c.Send(row.answer);
            return true;
        };
        auto client = LoggedIn();
        if (row.scanned) {
            client->Send("STAT\r\n");
            ASSERT_TRUE(client->WaitFor("+OK 1 "));
        }
        client->received.clear();
        client->Send(command + "\r\nQUIT\r\n");
        ASSERT_TRUE(client->WaitClosed());
        EXPECT_EQ(client->received, row.passed + std::string(kProtocolError) + row.why + "\r\n");
        EXPECT_EQ(server->Received().find("QUIT"), std::string::npos);
        EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    }
}

// A text longer than the server listed it by one status line holds a line
// of another answer: it is neither kept nor served.
TEST_F(OutOfStep, ATextLongerThanListedByAStatusLineEndsTheSession)
{
    for (const bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining);
        hub = MakeHub();
        server = std::make_unique<ScriptedServer>();
        server->pipelining = pipelining;
        const std::string one = Mail("One");
        server->mailbox = {{one + "+OK 2207 octets\r\n", "u1", -1, static_cast<int32_t>(one.size())},
                           {Mail("Two"), "u2"}};
        auto client = LoggedIn();
        client->Send("STAT\r\nRETR 1\r\nDELE 1\r\nQUIT\r\n");
        ExpectBroken(*client);
        EXPECT_EQ(server->Received().find("DELE"), std::string::npos);
    }
}

// A line that never ends while its bytes keep coming (64 KB every 10 ms)
// is judged at the line bound in every state an answer is relayed in: the
// client hears of it at once, not when a unit would be full.
TEST_F(OutOfStep, AServerLineThatNeverEndsIsCutAtTheBoundInEveryRelayedState)
{
    const struct {
        const char* at;
        bool automatic; // ServerSecurity=auto: CAPA before the login
        bool scanned;
    } rows[] = {
        {"CAPA", true, false}, {"USER alice", false, false}, {"PASS x", false, false},
        {"NOOP", false, false}, {"DELE 1", false, true},    {"QUIT", false, true},
    };
    for (const auto& row : rows) {
        const std::string at = row.at;
        SCOPED_TRACE(at);
        hub = MakeHub();
        if (row.automatic)
            hub->Settings().m_nServerSecurity = ServerSecurity::kAuto;
        server = std::make_unique<ScriptedServer>();
        server->mailbox = {{Mail("One"), "u1"}};
        server->hook = [&](ServerConnection& c, const std::string& line) {
            if (line != at)
                return false;
            c.Send("+OK ");
            auto* timer = new QTimer(&c);
            QObject::connect(timer, &QTimer::timeout, &c, [&c, timer] {
                if (c.socket->state() != QAbstractSocket::ConnectedState)
                    timer->stop();
                else
                    c.Send(std::string(65536, 'x'));
            });
            timer->start(10);
            return true;
        };
        auto client = Connect();
        client->Send(UserLine("alice", server->Port()));
        if (at != "CAPA" && at != "USER alice") {
            ASSERT_TRUE(client->WaitFor("+OK send PASS\r\n"));
            client->Send("PASS x\r\n");
        }
        if (at != "CAPA" && at != "USER alice" && at != "PASS x") {
            ASSERT_TRUE(client->WaitFor("+OK logged in\r\n"));
            if (row.scanned) {
                client->Send("STAT\r\n");
                ASSERT_TRUE(client->WaitFor("+OK 1 "));
            }
            client->Send(at + "\r\n");
        }
        ASSERT_TRUE(client->WaitClosed(2000));
        EXPECT_TRUE(client->received.ends_with(std::string(kProtocolError) + "line or answer too long\r\n"))
            << client->received.substr(0, 200);
        EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    }
}
