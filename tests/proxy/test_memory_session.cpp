// A session driven entirely in memory: no socket, no listener, no turn of the
// event loop between a unit and its answer. What each side receives is
// checked byte for byte, as with the network harness.
#include "base/LogSink.h"
#include "proxy/Connection.h"
#include "proxy/ProxyServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// One end of a session's connection: what the session sent, and units the
// test hands it.
class CMemoryConnection : public IConnection
{
public:
    void SetEvents(IConnectionEvents* events) override { m_pEvents = events; }
    void Connect(const std::string& host, uint16_t port) override
    {
        target = host + ":" + std::to_string(port);
        m_bActive = true;
    }
    bool IsActive() const override { return m_bActive; }
    bool IsConnected() const override { return m_bConnected; }
    bool Send(const char* data, int64_t length) override
    {
        sent.append(data, static_cast<size_t>(length));
        return m_bConnected;
    }
    void Close() override { m_bActive = m_bConnected = false; }
    bool UnitReady() const override { return m_bReady; }
    std::string TakeUnit(int32_t* chunks) override
    {
        if (chunks)
            *chunks = 1;
        m_bReady = false;
        return std::move(m_unit);
    }
    void SetRetrieving(bool) override {}

    // The test's side.
    // An outgoing connection reports that it is open; an accepted one is.
    void Open()
    {
        m_bActive = m_bConnected = true;
        if (!target.empty())
            m_pEvents->OnConnected(this, true);
    }
    void Deliver(std::string unit)
    {
        m_unit = std::move(unit);
        m_bReady = true;
        m_pEvents->OnUnit(this);
    }
    std::string Sent() { return std::exchange(sent, std::string()); }

    std::string sent;
    std::string target;

private:
    IConnectionEvents* m_pEvents = nullptr;
    std::string m_unit;
    bool m_bReady = false;
    bool m_bActive = false;
    bool m_bConnected = false;
};

// A host without windows: the log is captured, the analysis tags nothing.
class CQuietHost : public IProxyHost
{
public:
    void AddLog(std::string text, bool truncate) override { log.AddLog(std::move(text), truncate); }
    const CSettings& Settings() const override { return settings; }
    bool Debug() const override { return false; }
    bool AnalysisOff() const override { return false; }
    CProgressModel& Progress() override { return progress; }
    CConnectionListModel& Connections() override { return connections; }
    void SetTrayIcon(bool, bool) override {}
    void MailCheckStarted() override {}
    void PrepareAnalysis(CMailRecord*) override {}
    void AnalyseMessages(CSession* session) override
    {
        for (CMailRecord* record : session->m_messages)
            record->m_bAnalysed = true;
    }
    void ShowStartupMessage(const std::string&, const std::string&) override {}

    CCapturedLog log;
    CSettings settings;
    CProgressModel progress;
    CConnectionListModel connections;
};

} // namespace

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
