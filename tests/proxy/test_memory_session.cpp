// A session driven entirely in memory: no socket, no listener, no turn of the
// event loop between a unit and its answer. What each side receives is
// checked byte for byte, as with the network harness.
#include "support/MemorySession.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
        // ServerSecurity=auto: the server's capabilities first; no STLS, so plain
        {false, "+OK ready\r\n", "CAPA\r\n", ""},
        {false, "+OK\r\nUSER\r\n.\r\n", "USER alice\r\n", ""},
        {false, "+OK\r\n", "", "+OK\r\n"},
        {true, "PASS secret\r\n", "PASS secret\r\n", ""},
        {false, "+OK in\r\n", "", "+OK in\r\n"},
        // the capabilities asked before the login hold for the scan
        {true, "STAT\r\n", "STAT\r\n", ""},
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

// What the proxy asks of the server between its greeting and the login, for
// each ServerSecurity choice; "!ok" and "!host" end the STLS handshake. What
// the server got in all is exact: no login line goes out before the
// connection is encrypted where TLS was chosen.
TEST(MemorySession, ServerSecurityComesBeforeTheLogin)
{
    const std::string refused = "-ERR [SYS/PERM] TLS with mail.example:110 failed: ";
    const struct Case {
        const char* name;
        ServerSecurity security;
        const char* popServer;
        bool canEncrypt;
        std::vector<std::string> server;
        std::string toServer;
        std::string toClient;
        std::string logged;
    } cases[] = {
        {"auto takes STLS when offered", ServerSecurity::kAuto, "mail.example", true,
         {"+OK hi\r\n", "+OK\r\nUSER\r\nstls\r\n", ".\r\n", "+OK go\r\n", "!ok", "+OK\r\n"},
         "CAPA\r\nSTLS\r\nUSER alice\r\n", "+OK\r\n",
         "N\xB0" "1 - Connexion chiffr\xE9" "e avec mail.example:110 (TLSv1.3, TEST_CIPHER)\r\n"},
        {"auto stays plain when CAPA fails", ServerSecurity::kAuto, "mail.example", true,
         {"+OK hi\r\n", "-ERR what\r\n", "+OK\r\n"}, "CAPA\r\nUSER alice\r\n", "+OK\r\n", ""},
        {"auto: STLS offered, then refused", ServerSecurity::kAuto, "mail.example", true,
         {"+OK hi\r\n", "+OK\r\nSTLS\r\n.\r\n", "-ERR later\r\n"}, "CAPA\r\nSTLS\r\n",
         refused + "server refused STLS\r\n", "a \xE9" "chou\xE9 : le serveur a refus\xE9 STLS\r\n"},
        {"starttls asks STLS at once", ServerSecurity::kStartTls, "mail.example", true,
         {"+OK hi\r\n", "+OK\r\n", "!ok", "+OK\r\n"}, "STLS\r\nUSER alice\r\n", "+OK\r\n", "Connexion chiffr\xE9"},
        {"starttls without STLS", ServerSecurity::kStartTls, "mail.example", true, {"+OK hi\r\n", "-ERR no\r\n"},
         "STLS\r\n", refused + "server does not offer STLS\r\n",
         "La connexion chiffr\xE9" "e \xE0 mail.example:110 a \xE9" "chou\xE9 : le serveur ne propose pas STLS\r\n"},
        {"clear text after the STLS answer", ServerSecurity::kStartTls, "mail.example", true,
         {"+OK hi\r\n", "+OK go\r\n+OK injected\r\n"}, "STLS\r\n", refused + "clear-text data after STLS\r\n", ""},
        {"certificate for another host", ServerSecurity::kStartTls, "mail.example", true,
         {"+OK hi\r\n", "+OK\r\n", "!host"}, "STLS\r\n", refused + "host name mismatch\r\n",
         "le certificat ne correspond pas au nom d'h\xF4te"},
        {"a connection that cannot encrypt", ServerSecurity::kStartTls, "mail.example", false,
         {"+OK hi\r\n", "+OK\r\n"}, "STLS\r\n", refused + "TLS not available\r\n", "TLS indisponible"},
        {"starttls and a refusing greeting", ServerSecurity::kStartTls, "mail.example", true, {"-ERR busy\r\n"}, "",
         "-ERR busy\r\n", "Le serveur POP3 refuse la connexion : -ERR busy"},
        {"tls on the default port 995", ServerSecurity::kTls, "mail.example", true, {"+OK hi\r\n", "+OK\r\n"},
         "USER alice\r\n", "+OK\r\n", "Connexion chiffr\xE9" "e avec mail.example:995"},
        {"auto on port 995 is implicit TLS", ServerSecurity::kAuto, "mail.example:995", false, {}, "",
         "-ERR [SYS/PERM] TLS with mail.example:995 failed: TLS not available\r\n", ""},
        {"none sends the login at once", ServerSecurity::kNone, "mail.example", false, {"+OK hi\r\n"},
         "USER alice\r\n", "", "N\xB0" "1 - Identifiants envoy\xE9s sans chiffrement \xE0 mail.example:110, qui n'est pas "
         "sur cette machine\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CQuietHost host;
        host.settings.m_strPopServer = c.popServer;
        host.settings.m_nServerSecurity = c.security;
        CProxyServer proxy(host);
        std::string toServer, toClient;
        CMemoryConnection* server = nullptr;
        proxy.m_makeServerConnection = [&] {
            auto connection = std::make_unique<CMemoryConnection>();
            connection->transcript = &toServer;
            connection->canEncrypt = c.canEncrypt;
            server = connection.get();
            return connection;
        };
        CSession* session = proxy.m_sessions.append(std::make_unique<CSession>(proxy));
        auto owned = std::make_unique<CMemoryConnection>();
        owned->transcript = &toClient;
        CMemoryConnection* client = owned.get();
        session->SetClient(std::move(owned));
        client->Open();
        client->Deliver("USER alice\r\n");
        for (const std::string& unit : c.server) {
            ASSERT_FALSE(proxy.m_sessions.empty()) << "ended before " << unit;
            if (!server->IsConnected())
                server->Open();
            if (unit == "!ok" || unit == "!host") {
                ASSERT_TRUE(server->handshaking);
                server->FinishHandshake(unit == "!ok" ? TlsFailure::kNone : TlsFailure::kHostName);
            } else {
                server->Deliver(unit);
            }
        }
        EXPECT_EQ(toServer, c.toServer);
        EXPECT_EQ(toClient, c.toClient);
        std::string log;
        for (const auto& entry : host.log.Entries())
            log += entry.first;
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        // A failure ends the session; success leaves it logged in.
        EXPECT_EQ(proxy.m_sessions.empty(), c.toClient.starts_with("-ERR"));
    }
}
