// The early answer of a long scan: once ScanAnswerSeconds have passed, the
// client is answered with the messages finished so far (1 to k) as its whole
// mailbox, as providers that show a window of a large mailbox do. The
// download goes on behind it and ends in the store, and the next check goes
// on from there. For the rest of the session the proxy answers STAT, LIST,
// UIDL, RETR and TOP for 1 to k itself and refuses the numbers above.
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"

#include <QTimer>
#include <algorithm>

void CSession::StartScanAnswer()
{
    m_bAnswerDue = false;
    const int32_t seconds = m_proxy.Settings().m_nScanAnswerSeconds;
    if (seconds <= 0 || m_bWindowed)
        return;
    if (!m_pAnswerTimer)
        m_pAnswerTimer = MakeTimer(&CProxyServer::OnScanAnswerDue);
    m_pAnswerTimer->start(static_cast<int>(std::min<int64_t>(int64_t(seconds) * 1000, INT32_MAX)));
}

void CSession::StopScanAnswer()
{
    m_bAnswerDue = false;
    if (m_pAnswerTimer)
        m_pAnswerTimer->stop();
}

void CProxyServer::OnScanAnswerDue(int32_t number)
{
    if (CSession* session = SessionByNumber(number))
        session->ScanAnswerDue();
}

void CSession::ScanAnswerDue()
{
    if (!Scanning() || m_bWindowed)
        return;
    // Before the listing is in, there is nothing to number: the answer
    // comes as soon as the download begins.
    if (m_nState != kStateDownload) {
        m_bAnswerDue = true;
        return;
    }
    OpenWindow();
}

void CSession::OpenWindow()
{
    m_bAnswerDue = false;
    const int32_t number = m_nNumber;
    const CProxyServer::EAnalysed analysed = m_proxy.AnalyseFinished(this, false, false);
    if (analysed == CProxyServer::EAnalysed::kWaiting)
        m_bWindowAfterAnalysis = true; // goes on from AnalysisSettled
    if (analysed != CProxyServer::EAnalysed::kDone || !m_proxy.Alive(this, number))
        return;
    // The messages finished without a gap from the first: each downloaded
    // and analysed, or left to the server.
    int32_t k = 0;
    m_nWindowLast = 0;
    for (const CMailRecord* record : m_messages) {
        if (!record->m_bRelayed && !(record->IsDownloaded() && record->m_bAnalysed))
            break;
        m_nWindowLast = record->m_nNumber;
        ++k;
    }
    m_bWindowed = true;
    m_proxy.AddLog(StrFormat(txt::kScanWindow, m_proxy.SessionIndex(this), k, m_messages.count()), true);
    AnswerScanTrigger();
    ProcessClientLines();
}

std::string CSession::StatLine() const
{
    int32_t count = 0;
    int64_t sum = 0;
    for (const CMailRecord* record : m_messages) {
        if (m_bWindowed && (record->m_bDeleted || record->m_nNumber > m_nWindowLast))
            continue;
        ++count;
        sum += std::max(record->m_nSize, 0);
    }
    return StrFormat("+OK %d %d\r\n", m_bWindowed ? count : m_nMessageCount, Clamp32(sum));
}

bool CSession::NeedsServer(const std::string& line)
{
    if (pop3::IsCommand(line, "STAT") || pop3::IsCommand(line, "LIST") || pop3::IsCommand(line, "UIDL") ||
        pop3::IsCommand(line, "NOOP"))
        return false;
    const bool top = pop3::IsCommand(line, "TOP");
    if (top || pop3::IsCommand(line, "RETR") || pop3::IsCommand(line, "DELE")) {
        // A number the client does not see is refused here; a message left
        // to the server, and a deletion, go to the server.
        size_t pos = top ? 3 : 4;
        int32_t n = 0;
        const CMailRecord* record = ReadSaturated(line, pos, n) ? VisibleRecord(n) : nullptr;
        return record && (record->m_bRelayed || pop3::IsCommand(line, "DELE"));
    }
    return true;
}

void CSession::WindowLine(const std::string& line)
{
    const bool downloading = m_nState == kStateDownload;
    const bool needsServer = NeedsServer(line);
    if (downloading && needsServer) {
        // The line waits for the answers the server still owes; nothing
        // more is asked for, and the download ends there.
        m_bDraining = true;
        m_clientLines.push_front(line);
        return;
    }
    if (pop3::IsCommand(line, "STAT"))
        SendToClient(StatLine());
    else if (pop3::IsCommand(line, "LIST"))
        LocalList(line);
    else if (pop3::IsCommand(line, "UIDL"))
        LocalUidl(line);
    else if (pop3::IsCommand(line, "RETR"))
        LocalRetr(line);
    else if (pop3::IsCommand(line, "TOP"))
        LocalTop(line);
    else if (pop3::IsCommand(line, "DELE") && !needsServer)
        SendToClient(txt::kNoSuchMessage);
    else if (downloading)
        SendToClient(std::string("+OK\r\n")); // NOOP
    else
        PassToServer(line);
}

void CSession::LocalUidl(const std::string& line)
{
    if (!m_bUidlsListed) {
        // The server did not give UIDLs: its own refusal stands.
        const size_t lf = m_strUidlAnswer.find('\n');
        SendToClient(lf == std::string::npos ? std::string("-ERR\r\n") : m_strUidlAnswer.substr(0, lf + 1));
        return;
    }
    const size_t argument = line.find_first_not_of(" \t\r\n", 4);
    if (argument == std::string::npos) {
        std::string answer = "+OK\r\n";
        for (const CMailRecord* record : m_messages)
            if (!record->m_bDeleted && record->m_nNumber <= m_nWindowLast && !record->m_strUidl.empty())
                answer += StrFormat("%d %s\r\n", record->m_nNumber, record->m_strUidl.c_str());
        SendToClient(answer + ".\r\n");
        return;
    }
    size_t pos = 4;
    int32_t n = 0;
    const CMailRecord* record = ReadSaturated(line, pos, n) ? VisibleRecord(n) : nullptr;
    SendToClient(record && !record->m_strUidl.empty() ? StrFormat("+OK %d %s\r\n", n, record->m_strUidl.c_str())
                                                      : std::string(txt::kNoSuchMessage));
}
