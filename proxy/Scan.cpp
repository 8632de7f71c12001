// The mailbox scan: the proxy's own STAT, LIST and UIDL, one record per
// listed message, and the reuse of messages analysed before.
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "proxy/Sockets.h"


namespace {

// A listing longer than this is not believed (about five million messages).
constexpr size_t kMaxListing = size_t(64) << 20;

} // namespace

// STAT or LIST refused: the client gets the server's "-ERR" line and the
// session relays again.
void CSession::ScanRefused(const std::string& answer)
{
    StopSilence();
    EnterState(kStateRelay);
    m_strTriggerLine.clear();
    SendToClient(answer.substr(0, answer.find('\n') + 1));
    ProcessClientLines();
}

void CSession::SendStat()
{
    EnterState(kStateStatWait);
    m_strStatAnswer.clear();
    m_strListAnswer.clear();
    m_strUidlAnswer.clear();
    // A pipelining server gets the three questions of the scan at once; the
    // answers are then read in turn and judged once all are in.
    m_bBatched = m_bPipelining;
    SendToServer(std::string("STAT\r\n"));
    if (m_bBatched) {
        // Written out together when the event loop next waits.
        SendToServer(std::string("LIST\r\n"));
        SendToServer(std::string("UIDL\r\n"));
    }
}

void CSession::AnswerEmptyMailbox()
{
    StopSilence();
    EnterState(kStateRelay);
    // The RETR or TOP that started the scan goes to the server now.
    AnswerScanTrigger();
    ProcessClientLines();
}

void CSession::AnswerScanTrigger()
{
    if (m_nScanTrigger == ScanTrigger::kOther) {
        // Its turn comes again, before every line that followed it.
        m_clientLines.push_front(std::move(m_strTriggerLine));
        m_strTriggerLine.clear();
    } else if (m_bAnswerAsList) {
        // LIST n gets the one-line answer for its message, as when served.
        LocalList(m_strTriggerLine.empty() ? std::string("LIST\r\n") : m_strTriggerLine);
        m_strTriggerLine.clear();
    } else {
        SendToClient(StatLine());
    }
}

std::string CSession::Listing() const
{
    std::string answer = txt::kListingFollows;
    for (const CMailRecord* record : m_messages)
        if (!record->m_bDeleted && !(m_bWindowed && record->m_nNumber > m_nWindowLast))
            answer += StrFormat("%d %d\r\n", record->m_nNumber, record->m_nSize);
    answer += ".\r\n";
    return answer;
}

void CSession::StartDownload(bool uidlRefused)
{
    // UIDLs go by the server's message numbers, like the listing.
    const std::map<int32_t, std::string> uidls =
        uidlRefused ? std::map<int32_t, std::string>() : pop3::ParseUidls(m_strUidlAnswer);
    std::map<std::string, int32_t> given;
    for (CMailRecord* record : m_messages) {
        const auto uidl = uidls.find(record->m_nNumber);
        if (uidl != uidls.end())
            ++given[record->m_strUidl = uidl->second];
    }
    // A UIDL given to two messages identifies neither.
    for (CMailRecord* record : m_messages)
        record->m_bUidlShared = !record->m_strUidl.empty() && given[record->m_strUidl] > 1;
    m_bUidlsListed = !uidlRefused;
    m_proxy.ReuseKept(this);
    EnterState(kStateDownload);
    m_nCurrentMessage = 0;
    const int32_t number = m_nNumber;
    if (m_bPipelining)
        StartPipeline();
    else
        RequestNext();
    // The client's time ran out while the mailbox was being listed.
    if (m_proxy.Alive(this, number) && m_nState == kStateDownload && m_bAnswerDue)
        OpenWindow();
}

void CSession::StartScan(ScanTrigger trigger, const std::string& line)
{
    EnterState(kStateStatWait, EFresh::kScan);
    m_bScanStarted = true;
    m_nScanTrigger = trigger;
    m_strTriggerLine = trigger == ScanTrigger::kStat ? std::string() : line;
    StartScanAnswer();
    if (m_bCapaKnown) {
        SendStat();
    } else {
        // Whether the retrievals may be pipelined is asked once per login.
        EnterState(kStateCapaWait);
        m_strCapaAnswer.clear();
        SendToServer(std::string("CAPA\r\n"));
    }
    ArmSilence();
}

bool CSession::TakeScanAnswer(std::string& buffer, const std::string& text, bool multiLine, size_t maxLength,
                              std::string* rest)
{
    buffer += text;
    const pop3::AnswerCut cut = pop3::CutAnswer(buffer, multiLine, maxLength);
    if (!AnswerWhole(cut))
        return false;
    if (cut.length < buffer.size()) {
        // One command, one answer: what follows belongs to the next
        // command asked for, or to none.
        if (!rest) {
            ProtocolError(Breach::kUnowed);
            return false;
        }
        *rest = buffer.substr(cut.length);
        buffer.resize(cut.length);
    }
    return true;
}

bool CSession::StatAnswered()
{
    if (!m_strStatAnswer.starts_with("+OK")) {
        ScanRefused(m_strStatAnswer);
        return false;
    }
    m_nMessageCount = 0;
    int32_t count = 0, size = 0;
    const int read = pop3::ReadOkNumbers(m_strStatAnswer, count, size);
    if (read >= 1)
        m_nMessageCount = std::max(count, 0);
    if (read >= 2)
        m_nMailboxSize = std::max(size, 0);
    return true;
}

bool CSession::ListAnswered()
{
    if (!m_strListAnswer.starts_with("+OK")) {
        ScanRefused(m_strListAnswer);
        return false;
    }
    if (m_nMessageCount == 0) {
        AnswerEmptyMailbox();
        return false;
    }
    const std::string account = Account();
    for (const auto& [number, size] : pop3::ParseListing(m_strListAnswer)) {
        auto record = std::make_unique<CMailRecord>();
        record->m_nNumber = number;
        record->m_nClientNumber = m_nNumber;
        record->m_nSize = record->m_nListedSize = size;
        record->m_strAccount = account;
        m_messages.append(std::move(record));
    }
    // The listing decides what there is to fetch and to answer.
    m_nMessageCount = m_messages.count();
    return true;
}

void CSession::ScanStep(const std::string& text)
{
    std::string rest;
    std::string* const next = m_bBatched ? &rest : nullptr;
    switch (m_nState) {
    case kStateCapaWait: {
        if (!TakeScanAnswer(m_strCapaAnswer, text, true, pop3::kMaxStatusLine))
            return;
        const std::string& answer = m_strCapaAnswer;
        m_bPipelining = answer.starts_with("+OK") && pop3::ListsCapability(answer, "PIPELINING");
        m_bCapaKnown = true;
        m_strCapaAnswer.clear();
        SendStat();
        return;
    }
    case kStateStatWait:
        if (!TakeScanAnswer(m_strStatAnswer, text, false, pop3::kMaxStatusLine, next))
            return;
        if (!m_bBatched) {
            if (!StatAnswered())
                return;
            SendToServer(std::string("LIST\r\n"));
        }
        EnterState(kStateListWait);
        break;
    case kStateListWait:
        if (!TakeScanAnswer(m_strListAnswer, text, true, kMaxListing, next))
            return;
        if (!m_bBatched) {
            if (!ListAnswered())
                return;
            SendToServer(std::string("UIDL\r\n"));
        }
        EnterState(kStateUidlWait);
        break;
    case kStateUidlWait:
        if (!TakeScanAnswer(m_strUidlAnswer, text, true, kMaxListing))
            return;
        if (m_bBatched && (!StatAnswered() || !ListAnswered()))
            return;
        // A server without UIDL: every message is downloaded.
        StartDownload(!m_strUidlAnswer.starts_with("+OK"));
        return;
    default:
        return;
    }
    // Answers to the questions asked together.
    if (!rest.empty())
        ScanStep(rest);
}

void CSession::RequestNext()
{
    const CMailRecord* next = nullptr;
    for (const CMailRecord* record : m_messages) {
        if (!record->IsDownloaded() && !record->m_bRelayed) {
            next = record;
            break;
        }
    }
    if (!next || m_bDraining) {
        m_proxy.CompleteScan(this);
        return;
    }
    m_nCurrentMessage = next->m_nNumber;
    m_bRetrStatusPending = true;
    m_pServer->SetRetrieving(true);
    SendToServer(StrFormat("RETR %d\r\n", next->m_nNumber));
}
