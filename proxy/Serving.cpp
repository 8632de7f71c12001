// LIST, RETR and TOP answered from the stored copies once a scan is complete.
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"

#include <algorithm>

namespace {

// A record whose text the proxy holds (not one left to the server).
bool Served(const CMailRecord* record)
{
    return record && !record->m_bRelayed && record->IsDownloaded();
}

} // namespace

CMailRecord* CSession::VisibleRecord(int32_t n)
{
    // A client answered early sees the messages finished by then.
    if (m_bWindowed && n > m_nWindowLast)
        return nullptr;
    CMailRecord* record = m_proxy.RecordAt(this, n);
    return record && !record->m_bDeleted ? record : nullptr;
}

void CSession::LocalList(const std::string& line)
{
    // LIST alone lists every message; LIST n answers for message n alone.
    const size_t argument = line.find_first_not_of(" \t\r\n", 4);
    if (argument == std::string::npos) {
        SendToClient(Listing());
        return;
    }
    size_t pos = 4;
    int32_t n = 0;
    const CMailRecord* record = ReadSaturated(line, pos, n) ? VisibleRecord(n) : nullptr;
    SendToClient(record ? StrFormat("+OK %d %d\r\n", n, record->m_nSize) : std::string(txt::kNoSuchMessage));
}

void CSession::LocalRetr(const std::string& line)
{
    size_t pos = 4;
    int32_t n = 0;
    CMailRecord* record = ReadSaturated(line, pos, n) ? VisibleRecord(n) : nullptr;
    if (!record) {
        SendToClient(txt::kNoSuchMessage);
        return;
    }
    if (!Served(record)) {
        PassToServer(line);
        return;
    }
    SendStoredText(record, n, StrFormat("+OK %d octets\r\n", record->m_nSize), 0, false);
}

void CSession::LocalTop(const std::string& line)
{
    size_t pos = 3;
    int32_t n = 0, lines = 0;
    if (!ReadSaturated(line, pos, n) || !ReadSaturated(line, pos, lines) || lines < 0) {
        SendToClient(txt::kBadArguments);
        return;
    }
    CMailRecord* record = VisibleRecord(n);
    if (!record) {
        SendToClient(txt::kNoSuchMessage);
        return;
    }
    if (!Served(record)) {
        PassToServer(line);
        return;
    }
    SendStoredText(record, n, txt::kTopFollows, lines, true);
}

void CSession::SendStoredText(CMailRecord* record, int32_t n, const std::string& status, int32_t lines, bool top)
{
    // The text as far as the size the client was told, never past what arrived.
    std::string holder;
    std::string_view text;
    if (!m_proxy.TextOf(*record, holder, text)) {
        m_proxy.AddLog(StrFormat(txt::kStoredTextMissing, m_proxy.SessionIndex(this), n), true);
        SendToClient(txt::kTextUnavailable);
        return;
    }
    if (top) {
        holder = pop3::TopOfMessage(text, lines);
        text = holder;
    }
    // A copy kept with a bare-LF closing line still closes with CR LF.
    const bool bareClosing = text.ends_with("\n.\n") || text == ".\n";
    if (bareClosing)
        text.remove_suffix(2);
    SendToClient(status);
    m_bQuiet = true;
    SendToClient(text.data(), static_cast<int32_t>(text.size()), true);
    if (bareClosing)
        SendToClient(std::string(".\r\n"));
    m_bQuiet = false;
}
