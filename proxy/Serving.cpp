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

// The stored text as far as the size the client was told, never past what arrived.
std::string_view StoredText(const CMailRecord* record)
{
    const int32_t size = std::clamp(record->m_nSize, 0, static_cast<int32_t>(record->m_pszText.size()));
    return std::string_view(record->m_pszText).substr(0, static_cast<size_t>(size));
}

} // namespace

CMailRecord* CSession::VisibleRecord(int32_t n)
{
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
    const std::string_view text = StoredText(record);
    SendToClient(StrFormat("+OK %d octets\r\n", record->m_nSize));
    m_bQuiet = true;
    SendToClient(text.data(), static_cast<int32_t>(text.size()), true);
    m_bQuiet = false;
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
    const std::string top = pop3::TopOfMessage(StoredText(record), lines);
    SendToClient(txt::kTopFollows);
    m_bQuiet = true;
    SendToClient(top.data(), static_cast<int32_t>(top.size()), true);
    m_bQuiet = false;
}
