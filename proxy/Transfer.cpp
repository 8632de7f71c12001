// The three transfer operations and the traffic traces of the activity log.
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Sockets.h"

#include <algorithm>

namespace {

constexpr int32_t kServerPiece = 100000;
constexpr int32_t kClientPiece = 102400;

// A client unit that carries AUTH credentials is traced without them.
std::string MaskCredentials(const CSession* session, std::string_view text)
{
    if (session && session->m_nAuthStep != AuthStep::kNone)
        return "*****\r\n";
    if (pop3::BeginsWith(text, "AUTH ")) {
        size_t pos = 5;
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        const size_t mechEnd = text.find_first_of(" \r\n", pos);
        if (mechEnd != std::string_view::npos && text[mechEnd] == ' ')
            return std::string(text.substr(0, mechEnd)) + " *****\r\n";
    }
    return std::string(text);
}

} // namespace

bool CProxyServer::ReceiveAll(IConnection* socket, std::string& text, bool fromClient, int32_t index)
{
    if (!socket || !socket->UnitReady())
        return false;
    int32_t chunks = 0;
    text = socket->TakeUnit(&chunks);
    if (Debug()) {
        for (int32_t i = 0; i < chunks; ++i) {
            AddLog(txt::kWaitForBuffer, true);
            AddLog(txt::kBufferArrived, true);
        }
        const std::string_view whole = pop3::TraceText(text, false);
        std::string trace = StrFormat(txt::kTracePrefix, index);
        trace += fromClient ? txt::kLabelFromClient : txt::kLabelFromServer;
        trace += fromClient ? MaskCredentials(SessionOfSocket(socket), pop3::TraceText(text, true))
                            : std::string(pop3::TraceText(text, true));
        if (whole.size() < 2 || whole[whole.size() - 2] != '\r')
            trace += "\r\n";
        AddLog(pop3::MaskPasswords(std::move(trace)), true);
    }
    return true;
}

namespace {

void Send(CProxyServer& proxy, CSession* session, bool toServer, const char* bytes, int32_t length,
          bool truncate)
{
    const int32_t index = proxy.SessionIndex(session);
    if (!session)
        return;
    IConnection* socket = toServer ? session->m_pServer.get() : session->m_pClient.get();
    if (!socket)
        return;
    const std::string_view data(bytes, static_cast<size_t>(std::max(length, 0)));
    if (!session->m_bQuiet || proxy.Debug()) {
        std::string trace = StrFormat(txt::kTracePrefix, index);
        trace += toServer ? txt::kLabelToServer : txt::kLabelToClient;
        trace += pop3::TraceText(data, truncate);
        proxy.AddLog(pop3::MaskPasswords(std::move(trace)), truncate);
    }
    const size_t piece = toServer ? kServerPiece : kClientPiece;
    for (size_t pos = 0; pos < data.size(); pos += piece) {
        const size_t n = std::min(piece, data.size() - pos);
        if (!socket->Send(data.data() + pos, static_cast<int64_t>(n))) {
            proxy.AddLog(txt::kSocketClientError, true);
            return;
        }
    }
}

} // namespace

void CProxyServer::SendToServer(CSession* session, const char* bytes, int32_t length, bool truncate)
{
    Send(*this, session, true, bytes, length, truncate);
}

void CProxyServer::SendToClient(CSession* session, const char* bytes, int32_t length, bool truncate)
{
    Send(*this, session, false, bytes, length, truncate);
}

void CProxyServer::SendToServer(CSession* session, const std::string& text)
{
    SendToServer(session, text.data(), ClampSize32(text.size()), false);
}

void CProxyServer::SendToClient(CSession* session, const std::string& text)
{
    SendToClient(session, text.data(), ClampSize32(text.size()), false);
}
