// The download of each message, the wait after an early closing line, and
// the hand-off: analysis, processed copies, the answer to the client.
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "proxy/Sockets.h"

#include <QTimer>
#include <algorithm>

namespace {

// A message text is given room for at most this many bytes before they come.
constexpr int32_t kReserveBound = 1 << 20;

} // namespace

void CProxyServer::OnTimer(int32_t id)
{
    CSession* session = SessionByNumber(id);
    if (!session || !session->m_bTimerArmed)
        return;
    session->m_bTimerArmed = false;
    session->m_bTimerFired = true;
    if (session->m_pGraceTimer)
        session->m_pGraceTimer->stop();
    OnSocketReceive(session->m_pServer.get());
}

void CProxyServer::CompleteScan(CSession* session)
{
    m_host.Progress().Set(0, m_host.Progress().m_nMessage);
    m_host.Progress().SetStatus(std::string());
    session->StopSilence();
    if (session->m_pServer)
        session->m_pServer->SetRetrieving(false);

    session->StopScanAnswer();
    // What arrived is analysed and kept, for later scans of the same account.
    if (!m_host.AnalysisOff()) {
        const EAnalysed analysed = AnalyseFinished(session, true, false);
        if (analysed == EAnalysed::kWaiting)
            session->m_bCompleteAfterAnalysis = true; // goes on from AnalysisSettled
        if (analysed != EAnalysed::kDone)
            return;
    }

    // Preparations the analysis did not take (it was off, or the message
    // was left out) are of no further use.
    for (CMailRecord* record : session->m_messages)
        record->m_pPrepareJob.reset();

    session->EnterState(kStateServing);
    // The RETR or TOP that started the scan is answered from the copies;
    // a client answered early has had its answer.
    if (!session->m_bWindowed)
        session->AnswerScanTrigger();
    session->ProcessClientLines();
}

void CSession::ArmGrace()
{
    if (!m_pGraceTimer)
        m_pGraceTimer = MakeTimer(&CProxyServer::OnTimer);
    m_pGraceTimer->start(std::max(m_proxy.m_nGraceMs, 0));
}

bool CSession::OpenAnswer(CMailRecord* record, int32_t n, std::string_view status)
{
    if (!status.starts_with("+OK")) {
        m_proxy.AddLog(StrFormat(txt::kRetrRefused, m_proxy.SessionIndex(this), n), true);
        record->m_bRelayed = true;
        return false;
    }
    size_t pos = 3;
    int32_t announced = 0;
    if (ReadSaturated(status, pos, announced) && announced >= 0 && announced != record->m_nSize)
        record->m_nSize = announced;
    return true;
}

Stored CSession::StoreAnswerBytes(CMailRecord* record, int32_t n, std::string_view part, bool mayWait)
{
    // A message never opens with a status line (a header line does not
    // begin "+OK" or "-ERR"): one there means an unasked line was taken for
    // this answer's, and this text is the real answer, or another's.
    if (record->m_pszText.size() < 4) {
        std::string opening = record->m_pszText;
        opening.append(part.substr(0, 4 - opening.size()));
        if (pop3::StatusOpening(opening) == pop3::Opening::kStatus) {
            ProtocolError(Breach::kDoubleStatus);
            return Stored::kEnded;
        }
    }
    const int64_t total = int64_t(record->m_nReceived) + int64_t(part.size());
    if (total > m_proxy.m_nMaxRetrieval) {
        m_proxy.AddLog(StrFormat(txt::kRetrievalTooLarge, m_proxy.SessionIndex(this), n), true);
        SendToClient(txt::kServerBadAnswer);
        m_proxy.DisconnectSession(this);
        return Stored::kEnded;
    }
    if (total > int64_t(record->m_nSize) + 3) {
        m_proxy.AddLog(StrFormat(txt::kUnixToDos, Clamp32(total - record->m_nSize)), true);
        record->m_nSize = static_cast<int32_t>(total);
    }
    // The listed size, within a bound, is room for the whole text at once:
    // a wrong one costs a reallocation, never more memory than the bound.
    if (record->m_pszText.empty())
        record->m_pszText.reserve(std::max(static_cast<size_t>(std::clamp(record->m_nListedSize, 0, kReserveBound)) + 64,
                                           part.size()));
    record->m_pszText.append(part);
    record->m_nReceived = static_cast<int32_t>(total);

    const int32_t percent =
        record->m_nSize > 0 ? Clamp32(1 + int64_t(100) * record->m_nReceived / record->m_nSize) : 100;
    m_proxy.Host().Progress().Set(m_proxy.Host().Progress().m_nMailbox, std::min(percent, 100));
    m_proxy.Host().Progress().SetStatus(StrFormat(txt::kDownloadStatus, n, m_nMessageCount,
                                       record->m_nReceived / 1024, record->m_nSize / 1024));

    if (!pop3::EndsRetrieval(record->m_pszText))
        return Stored::kPartial;
    if (record->m_nReceived < record->m_nSize && !m_bTimerFired && mayWait) {
        // The closing line came before the announced size: wait a little.
        m_bTimerArmed = true;
        ArmGrace();
        return Stored::kGrace;
    }
    if (pop3::LongerByStatusLine(record->m_pszText, record->m_nListedSize)) {
        ProtocolError(Breach::kDoubleStatus);
        return Stored::kEnded;
    }
    // A server that ends its lines with LF alone closes with ".\n"; the
    // client always gets CR LF "." CR LF, the message's own bytes as they came.
    if (!record->m_pszText.ends_with(".\r\n")) {
        record->m_pszText.insert(record->m_pszText.size() - 1, 1, '\r');
        record->m_nReceived = ClampSize32(record->m_pszText.size());
    }
    record->m_nSize = record->m_nReceived;
    record->m_bDownloaded = true;
    // The text may have grown by doubling; what it will hold is known now.
    // (The announced size reserves nothing: it is only the server's word.)
    if (record->m_pszText.capacity() - record->m_pszText.size() > record->m_pszText.size() / 4)
        record->m_pszText.shrink_to_fit();
    m_bTimerFired = false;
    m_proxy.Host().PrepareAnalysis(this, record);
    const int32_t number = m_nNumber;
    m_proxy.KeepDownload(this, record);
    if (!m_proxy.Alive(this, number))
        return Stored::kEnded;
    const int32_t count = std::max(m_nMessageCount, 1);
    m_proxy.Host().Progress().Set(std::min(Clamp32(int64_t(n) * 100 / count), 100), 0);
    return Stored::kComplete;
}

CSession::StatusRead CSession::ReadRetrStatus(std::string_view& rest, std::string& status)
{
    const size_t lf = rest.find('\n');
    const size_t take = lf == std::string_view::npos ? rest.size() : lf + 1;
    m_strRetrStatus.append(rest.substr(0, take));
    rest.remove_prefix(take);
    const pop3::AnswerCut cut = pop3::CutAnswer(m_strRetrStatus, false, pop3::kMaxStatusLine);
    if (!AnswerWhole(cut))
        return cut.kind == pop3::AnswerCut::Kind::kIncomplete ? StatusRead::kWaiting : StatusRead::kBroken;
    status = std::move(m_strRetrStatus);
    m_strRetrStatus.clear();
    m_bRetrStatusPending = false;
    return StatusRead::kWhole;
}

void CSession::DownloadStep(const std::string& bytes)
{
    if (m_bPipelining) {
        PipelineStep(bytes);
        return;
    }
    const int32_t n = m_nCurrentMessage;
    CMailRecord* record = m_proxy.RecordAt(this, n);
    if (!record)
        return;
    std::string_view part = bytes;
    if (m_bRetrStatusPending) {
        // The first data after RETR opens its answer.
        std::string status;
        if (ReadRetrStatus(part, status) != StatusRead::kWhole)
            return;
        if (!OpenAnswer(record, n, status)) {
            // A refusal is its one line: RETR goes one at a time, so
            // nothing may follow it.
            if (!part.empty()) {
                ProtocolError(Breach::kUnowed);
                return;
            }
            m_pServer->SetRetrieving(false);
            RequestNext();
            return;
        }
        m_bQuiet = true;
    }
    // Bytes after the closing line belong to the message only when that
    // line came before the announced size (the wait after an early one);
    // otherwise no answer is owed for them.
    const size_t end = pop3::AnswerEnd(record->m_pszText, part);
    if (end != std::string_view::npos && end < part.size() &&
        (int64_t(record->m_nReceived) + int64_t(end) >= record->m_nSize || m_bTimerFired)) {
        ProtocolError(Breach::kUnowed);
        return;
    }
    if (StoreAnswerBytes(record, n, part, true) != Stored::kComplete)
        return;
    m_bQuiet = false;
    m_pServer->SetRetrieving(false);
    RequestNext();
}
