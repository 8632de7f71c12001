// Pipelined retrievals: a bounded window of RETR commands stays outstanding,
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

// RETR commands outstanding at most.
constexpr size_t kWindow = 16;
// A status line longer than this is not a POP3 answer.
constexpr size_t kMaxStatusLine = 65536;

// How many bytes of `part` belong to the answer whose message bytes so far
// are `stored`: up to and including its closing line, or npos when the
// closing line is not in `part`. A closing line that `stored` already ends
// with (the wait after an early one) does not count again.
size_t AnswerEnd(const std::string& stored, std::string_view part)
{
    // The message starts as if after a line end, so that "." alone closes an
    // empty one. A closing line ("\n.\r\n" at most) that began in the bytes
    // stored so far ends within the first three of `part`.
    std::string window = "\n";
    window += stored.substr(stored.size() - std::min<size_t>(stored.size(), 3));
    window.erase(0, window.size() - std::min<size_t>(window.size(), 3));
    const size_t context = window.size();
    window += part.substr(0, std::min<size_t>(part.size(), 3));
    const size_t end = pop3::ClosingLineEnd(window, context);
    if (end != std::string::npos)
        return end - context;
    return pop3::ClosingLineEnd(part, 0);
}

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
    while (m_pipeline.size() < kWindow) {
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
            const size_t lf = rest.find('\n');
            if (lf == std::string_view::npos) {
                m_strRetrStatus.append(rest);
                if (m_strRetrStatus.size() <= kMaxStatusLine)
                    return;
                // Garbage without a line end: refused, and the bytes dropped.
                rest = std::string_view();
            } else {
                m_strRetrStatus.append(rest.substr(0, lf + 1));
                rest.remove_prefix(lf + 1);
            }
            m_bRetrStatusPending = false;
            const std::string status = std::move(m_strRetrStatus);
            m_strRetrStatus.clear();
            if (!OpenAnswer(record, n, status)) {
                if (!NextAnswer())
                    return;
                continue;
            }
            m_bQuiet = true;
            opened = true;
        }

        const size_t end = AnswerEnd(record->m_pszText, rest);
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
        if (!NextAnswer())
            return;
    }
}
