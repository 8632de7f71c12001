// A session fed arbitrary server bytes through connections kept in memory.
// The input is the server's side: units separated by "~~\n". The client logs
// in, asks STAT, and once the scan is over retrieves, lists, deletes and
// quits. Whatever the server says, the session must not crash, and a scan
// the proxy abandoned for a protocol error leaves no copy behind.
#include "support/MemorySession.h"

#include "base/Texts.h"

#include <QCoreApplication>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> Units(std::string_view bytes)
{
    std::vector<std::string> units;
    for (size_t pos = 0; pos <= bytes.size();) {
        const size_t cut = bytes.find("~~\n", pos);
        const size_t end = cut == std::string_view::npos ? bytes.size() : cut;
        units.emplace_back(bytes.substr(pos, end - pos));
        pos = end + 3;
    }
    return units;
}

// The log holds the proxy's "N°n - ... hors protocole (...)" line. Every
// entry that quotes the server (a trace, a refusal) opens with other words.
bool EndedOverProtocolError(const CCapturedLog& log)
{
    const std::string_view format = txt::kProtocolErrorLog;
    const size_t from = format.find(" - ");
    const std::string_view words = format.substr(from, format.find("(%s") + 1 - from);
    for (const CCapturedLog::Entry& entry : log.Entries()) {
        const std::string_view text = entry.first;
        size_t digits = 1;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
            ++digits;
        if (text.starts_with("N\xB0") && digits > 1 && text.substr(digits).starts_with(words))
            return true;
    }
    return false;
}

// What the client asks once the scan is over.
constexpr char kAfterScan[] = "LIST\r\nUIDL 1\r\nRETR 1\r\nTOP 1 0\r\nLIST 2\r\nDELE 1\r\nRSET\r\nQUIT\r\n";

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Timers of the session need an application object; no loop ever runs.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory::CQuietHost host;
    host.settings.m_strPopServer = "mail.example";
    // The login goes out after the greeting, as the seeds have it.
    host.settings.m_nServerSecurity = ServerSecurity::kNone;
    CProxyServer proxy(host);
    memory::CMemoryConnection* server = nullptr;
    proxy.m_makeServerConnection = [&server] {
        auto connection = std::make_unique<memory::CMemoryConnection>();
        server = connection.get();
        return connection;
    };
    CSession* session = proxy.m_sessions.append(std::make_unique<CSession>(proxy));
    auto owned = std::make_unique<memory::CMemoryConnection>();
    memory::CMemoryConnection* client = owned.get();
    session->SetClient(std::move(owned));
    client->Open();

    const auto alive = [&proxy] { return !proxy.m_sessions.empty(); };
    bool asked = false;
    client->Deliver("USER alice\r\n");
    const std::vector<std::string> units = Units(std::string_view(reinterpret_cast<const char*>(data), size));
    for (size_t i = 0; i < units.size() && alive(); ++i) {
        if (server && !server->IsConnected())
            server->Open();
        if (!alive() || !server)
            break;
        server->Deliver(units[i]);
        if (alive() && i == 1)
            client->Deliver("PASS secret\r\n");
        if (alive() && i == 2)
            client->Deliver("STAT\r\n");
        if (alive() && !asked && session->m_nState == kStateServing) {
            asked = true;
            client->Deliver(kAfterScan);
        }
    }
    if (alive() && !asked)
        client->Deliver(kAfterScan);
    // Whether the proxy itself ended the session over a protocol error is
    // read from its own log line, never from what the client received: a
    // server may well send that text, and it is rightly relayed.
    if (EndedOverProtocolError(host.log) && proxy.m_processedMails.count() != 0)
        std::abort();
    return 0;
}
