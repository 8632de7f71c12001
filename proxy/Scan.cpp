// The mailbox scan: the proxy's own STAT, LIST and UIDL, one record per
// listed message, and the reuse of messages analysed before.
#include "proxy/Pop3Text.h"
#include "proxy/Relay.h"
#include "proxy/Sockets.h"
#include "base/Format.h"
#include "proxy/ProxyServer.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <QTimer>

namespace relay {

namespace {

// A multi-line answer is whole once its closing "." line has arrived.
bool MultiLineComplete(const std::string& answer)
{
    return answer.ends_with("\r\n.\r\n");
}

// The answer's status line says it is not "+OK". Decided as soon as its
// first three bytes are there.
bool IsErrorAnswer(const std::string& answer)
{
    if (answer.size() >= 3)
        return !answer.starts_with("+OK");
    return answer.find('\n') != std::string::npos;
}

// STAT or LIST refused: the client gets the server's error (or one of its
// own for a garbled answer) and the session relays again.
void ScanRefused(CProxyServer& hub, CSession* session, const std::string& answer)
{
    StopSilence(session);
    session->m_nState = kStateRelay;
    session->m_strTriggerLine.clear();
    if (answer.starts_with("-ERR")) {
        const size_t lf = answer.find('\n');
        hub.SendToClient(session, lf == std::string::npos ? answer + "\r\n" : answer.substr(0, lf + 1));
    } else {
        hub.SendToClient(session, txt::kServerBadAnswer);
    }
    ProcessClientLines(hub, session);
}

// The capability list names PIPELINING on a line of its own (perhaps
// followed by arguments).
bool ListsPipelining(const std::string& answer)
{
    size_t pos = answer.find('\n');
    while (pos != std::string::npos && pos + 1 < answer.size()) {
        const size_t start = pos + 1;
        pos = answer.find('\n', start);
        std::string_view line(answer.data() + start, (pos == std::string::npos ? answer.size() : pos) - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (line.size() >= 10 && w1252::EqualsNoCase(std::string(line.substr(0, 10)), "PIPELINING") &&
            (line.size() == 10 || line[10] == ' '))
            return true;
    }
    return false;
}

void SendStat(CProxyServer& hub, CSession* session)
{
    session->m_nState = kStateStatWait;
    hub.SendToServer(session, std::string("STAT\r\n"));
}

void AnswerEmptyMailbox(CProxyServer& hub, CSession* session)
{
    StopSilence(session);
    session->m_nState = kStateRelay;
    if (session->m_nScanTrigger == ScanTrigger::kOther) {
        // The RETR or TOP that started the scan goes to the server now.
        session->m_clientLines.push_front(std::move(session->m_strTriggerLine));
        session->m_strTriggerLine.clear();
    } else if (session->m_bAnswerAsList) {
        hub.SendToClient(session, std::string(txt::kListingFollows) + ".\r\n");
    } else {
        hub.SendToClient(session, StrFormat("+OK %d %d\r\n", 0, 0));
    }
    ProcessClientLines(hub, session);
}

void StartDownload(CProxyServer& hub, CSession* session, bool uidlRefused)
{
    const std::string account = session->Account();
    const std::vector<std::string> uidls =
        uidlRefused ? std::vector<std::string>()
                    : pop3::ParseUidls(session->m_strUidlAnswer, session->m_messages.count());
    std::string found;
    int32_t foundCount = 0;
    int32_t n = 1;
    for (CMailRecord* record : session->m_messages) {
        if (static_cast<size_t>(n) <= uidls.size())
            record->m_strUidl = uidls[static_cast<size_t>(n - 1)];
        if (CMailRecord* copy = hub.ReusableCopy(record->m_strUidl, account)) {
            record->assignFrom(*copy);
            found += std::to_string(n) + ", ";
            ++foundCount;
        }
        ++n;
    }
    if (foundCount > 0) {
        found.resize(found.size() - 2);
        hub.AddLog(StrFormat(foundCount == 1 ? txt::kAlreadyOne : txt::kAlreadyMany, found.c_str()), false);
    }
    session->m_nState = kStateDownload;
    session->m_nCurrentMessage = 0;
    if (session->m_bPipelining)
        StartPipeline(hub, session);
    else
        RequestNext(hub, session);
}

} // namespace

void StartScan(CProxyServer& hub, CSession* session, ScanTrigger trigger, const std::string& line)
{
    session->m_messages.clear();
    session->m_strUidlAnswer.clear();
    session->m_strListAnswer.clear();
    session->m_nState = kStateStatWait;
    session->m_nMessageCount = 0;
    session->m_bScanStarted = true;
    session->m_nScanTrigger = trigger;
    session->m_strTriggerLine = trigger == ScanTrigger::kOther ? line : std::string();
    session->m_bTimerArmed = false;
    session->m_bTimerFired = false;
    session->m_bRetrStatusPending = false;
    session->m_pipeline.clear();
    session->m_strRetrStatus.clear();
    if (session->m_pGraceTimer)
        session->m_pGraceTimer->stop();
    if (session->m_bCapaKnown) {
        SendStat(hub, session);
    } else {
        // Whether the retrievals may be pipelined is asked once per login.
        session->m_nState = kStateCapaWait;
        session->m_strCapaAnswer.clear();
        hub.SendToServer(session, std::string("CAPA\r\n"));
    }
    ArmSilence(hub, session);
}

void ScanStep(CProxyServer& hub, CSession* session, const std::string& text)
{
    switch (session->m_nState) {
    case kStateCapaWait: {
        session->m_strCapaAnswer += text;
        const std::string& answer = session->m_strCapaAnswer;
        const bool ok = answer.starts_with("+OK") || (answer.size() < 3 && std::string_view("+OK").starts_with(answer));
        if (ok && !MultiLineComplete(answer) && answer.size() < 65536)
            return;
        // An error answer is one line: the next answer starts after it.
        if (!ok && answer.find('\n') == std::string::npos && answer.size() < 65536)
            return;
        session->m_bPipelining = ok && ListsPipelining(answer);
        session->m_bCapaKnown = true;
        session->m_strCapaAnswer.clear();
        SendStat(hub, session);
        return;
    }
    case kStateStatWait: {
        if (IsErrorAnswer(text)) {
            ScanRefused(hub, session, text);
            return;
        }
        session->m_strListAnswer.clear();
        session->m_nMessageCount = 0;
        int32_t count = 0, size = 0;
        const int read = pop3::ReadOkNumbers(text, count, size);
        if (read >= 1)
            session->m_nMessageCount = std::max(count, 0);
        if (read >= 2)
            session->m_nMailboxSize = std::max(size, 0);
        session->m_nState = kStateListWait;
        hub.SendToServer(session, std::string("LIST\r\n"));
        return;
    }
    case kStateListWait: {
        session->m_strListAnswer += text;
        if (IsErrorAnswer(session->m_strListAnswer)) {
            ScanRefused(hub, session, session->m_strListAnswer);
            return;
        }
        if (!MultiLineComplete(session->m_strListAnswer))
            return;
        if (session->m_nMessageCount == 0) {
            AnswerEmptyMailbox(hub, session);
            return;
        }
        const std::string account = session->Account();
        for (int32_t size : pop3::ParseListSizes(session->m_strListAnswer)) {
            auto record = std::make_unique<CMailRecord>();
            record->m_nClientNumber = session->m_nNumber;
            record->m_nSize = record->m_nListedSize = size;
            record->m_strAccount = account;
            session->m_messages.append(std::move(record));
        }
        // The listing decides what there is to fetch and to answer.
        session->m_nMessageCount = session->m_messages.count();
        session->m_nState = kStateUidlWait;
        hub.SendToServer(session, std::string("UIDL\r\n"));
        return;
    }
    case kStateUidlWait: {
        session->m_strUidlAnswer += text;
        // A server without UIDL: every message is downloaded.
        const bool refused = IsErrorAnswer(session->m_strUidlAnswer);
        if (!refused && !MultiLineComplete(session->m_strUidlAnswer))
            return;
        StartDownload(hub, session, refused);
        return;
    }
    default:
        return;
    }
}

void RequestNext(CProxyServer& hub, CSession* session)
{
    int32_t n = 1;
    for (CMailRecord* record : session->m_messages) {
        if (!record->IsDownloaded() && !record->m_bRelayed)
            break;
        ++n;
    }
    if (n > session->m_messages.count()) {
        hub.CompleteScan(session);
        return;
    }
    session->m_nCurrentMessage = n;
    session->m_bRetrStatusPending = true;
    session->m_pServer->m_bRetrieving = true;
    hub.SendToServer(session, StrFormat("RETR %d\r\n", n));
}

} // namespace relay
