// Pipelined retrievals: a window of RETR commands, bounded by the listed
// sizes of the messages asked for, stays outstanding,
// and the consecutive answers are cut from the server's stream in order,
// each at its own closing line. Used only with servers that advertise
// PIPELINING; the others get one RETR at a time.
#include "base/Format.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "proxy/Sockets.h"

#include <algorithm>

namespace {

// RETR commands outstanding at most, whatever their sizes.
constexpr size_t kMaxOutstanding = 256;

} // namespace

void CSession::SendRetr(int32_t n)
{
    // Every RETR is traced, also those sent while another answer streams in.
    const bool quiet = m_bQuiet;
    m_bQuiet = false;
    SendToServer(StrFormat("RETR %d\r\n", n));
    m_bQuiet = quiet;
}

// Tops the window up; with nothing outstanding and nothing left to ask
// for, the scan is handed over. False when the download is over.
bool CSession::Refill()
{
    // The window is counted in bytes: on a far server, a mailbox of small
    // messages is asked for in one go, and large ones still a few at a time.
    int64_t inFlight = 0;
    for (const int32_t n : m_pipeline)
        if (const CMailRecord* record = m_proxy.RecordAt(this, n))
            inFlight += std::max(record->m_nListedSize, 0);
    // A draining session asks for nothing more: a command of its client
    // waits for the server.
    while (!m_bDraining && m_pipeline.size() < kMaxOutstanding) {
        // m_nNextRequest is a place in the list; the pipeline holds the
        // server's numbers of the messages asked for.
        const CMailRecord* record = nullptr;
        while (m_nNextRequest <= m_messages.count()) {
            record = m_messages.at(m_nNextRequest);
            if (record && !record->IsDownloaded() && !record->m_bRelayed)
                break;
            record = nullptr;
            ++m_nNextRequest;
        }
        if (!record)
            break;
        if (!m_pipeline.empty() && inFlight + std::max(record->m_nListedSize, 0) > m_proxy.m_nPipelineBytes)
            break;
        inFlight += std::max(record->m_nListedSize, 0);
        ++m_nNextRequest;
        m_pipeline.push_back(record->m_nNumber);
        SendRetr(record->m_nNumber);
    }
    if (m_pipeline.empty()) {
        m_bQuiet = false;
        m_proxy.CompleteScan(this);
        return false;
    }
    m_nCurrentMessage = m_pipeline.front();
    m_pServer->SetRetrieving(true);
    return true;
}

bool CSession::LastOwed(std::string_view rest)
{
    // Bytes after the front answer are owed only to the RETRs sent after it.
    if (m_pipeline.size() > 1 || rest.empty())
        return true;
    ProtocolError(Breach::kUnowed);
    return false;
}

// The front answer is over: the next one opens with a status line.
bool CSession::NextAnswer()
{
    m_pipeline.pop_front();
    m_bRetrStatusPending = true;
    m_strRetrStatus.clear();
    m_bQuiet = false;
    return Refill();
}

void CSession::StartPipeline()
{
    m_pipeline.clear();
    m_strRetrStatus.clear();
    m_nNextRequest = 1;
    m_bRetrStatusPending = true;
    Refill();
}

void CSession::PipelineStep(const std::string& bytes)
{
    std::string_view rest = bytes;
    while (!m_pipeline.empty()) {
        const int32_t n = m_pipeline.front();
        CMailRecord* record = m_proxy.RecordAt(this, n);
        if (!record) {
            if (!NextAnswer())
                return;
            continue;
        }
        bool opened = false;
        if (m_bRetrStatusPending) {
            if (rest.empty())
                return;
            std::string status;
            const StatusRead read = ReadRetrStatus(rest, status);
            if (read != StatusRead::kWhole)
                return;
            if (!OpenAnswer(record, n, status)) {
                if (!LastOwed(rest) || !NextAnswer())
                    return;
                continue;
            }
            m_bQuiet = true;
            opened = true;
        }

        size_t end = pop3::AnswerEnd(record->m_pszText, rest);
        // With no other RETR outstanding, bytes after a closing line that
        // came before the announced size are more of the message, as one
        // RETR at a time takes them.
        if (end != std::string_view::npos && end < rest.size() && m_pipeline.size() == 1 && !m_bTimerFired &&
            int64_t(record->m_nReceived) + int64_t(end) < record->m_nSize)
            end = std::string_view::npos;
        const std::string_view part = end == std::string_view::npos ? rest : rest.substr(0, end);
        rest.remove_prefix(part.size());
        // Only the last outstanding answer may wait after an early closing
        // line: otherwise the bytes that follow are the next answer.
        const bool mayWait = m_pipeline.size() == 1 && rest.empty();
        if (part.empty() && !opened && !m_bTimerFired)
            return;
        const Stored stored = StoreAnswerBytes(record, n, part, mayWait);
        if (stored != Stored::kComplete)
            return;
        if (!LastOwed(rest) || !NextAnswer())
            return;
    }
}
