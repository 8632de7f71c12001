// A session driven entirely in memory: no socket, no listener, no turn of the
// event loop between a unit and its answer. What each side receives is
// checked byte for byte, as with the network harness.
#include "support/MemorySession.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>


using namespace memory;

TEST(MemorySession, LoginScanAndServeWithoutSockets)
{
    CQuietHost host;
    host.settings.m_strPopServer = "mail.example";
    CProxyServer proxy(host);
    CMemoryConnection* server = nullptr;
    proxy.m_makeServerConnection = [&server] {
        auto connection = std::make_unique<CMemoryConnection>();
        server = connection.get();
        return connection;
    };
    CSession* session = proxy.m_sessions.append(std::make_unique<CSession>(proxy));
    auto owned = std::make_unique<CMemoryConnection>();
    CMemoryConnection* client = owned.get();
    session->SetClient(std::move(owned));
    client->Open();

    // Each step: a unit from one side, then what each side was sent.
    struct Step {
        bool fromClient;
        std::string unit;
        std::string toServer;
        std::string toClient;
    };
    const std::string message = "Subject: hi\r\n\r\nHello.\r\n";
    const Step steps[] = {
        {true, "USER alice\r\n", "", ""},
        {false, "+OK ready\r\n", "USER alice\r\n", ""},
        {false, "+OK\r\n", "", "+OK\r\n"},
        {true, "PASS secret\r\n", "PASS secret\r\n", ""},
        {false, "+OK in\r\n", "", "+OK in\r\n"},
        {true, "STAT\r\n", "CAPA\r\n", ""},
        {false, "+OK\r\nUIDL\r\n.\r\n", "STAT\r\n", ""},
        {false, "+OK 1 23\r\n", "LIST\r\n", ""},
        {false, "+OK\r\n1 23\r\n.\r\n", "UIDL\r\n", ""},
        {false, "+OK\r\n1 u1\r\n.\r\n", "RETR 1\r\n", ""},
        {false, "+OK 23 octets\r\n" + message + ".\r\n", "", "+OK 1 26\r\n"},
        {true, "RETR 1\r\n", "", "+OK 26 octets\r\n" + message + ".\r\n"},
        {true, "QUIT\r\n", "QUIT\r\n", ""},
    };
    int i = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(i++);
        if (step.fromClient) {
            client->Deliver(step.unit);
        } else {
            ASSERT_NE(server, nullptr);
            if (!server->IsConnected()) {
                EXPECT_EQ(server->target, "mail.example:110");
                server->Open();
            }
            server->Deliver(step.unit);
        }
        EXPECT_EQ(server ? server->Sent() : "", step.toServer);
        EXPECT_EQ(client->Sent(), step.toClient);
    }
}
