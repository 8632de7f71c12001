// OnSocketReceive: the client's lines and the server's answers, by state.
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "proxy/Sockets.h"

#include <QTimer>
#include <algorithm>
#include <utility>

void CProxyServer::OnSocketReceive(IConnection* socket)
{
    if (CSession* session = SessionOfSocket(socket))
        session->OnUnit(socket);
}

namespace {

// A unit that begins with USER is one item, as it will be held for the
// server; any other unit is taken one line at a time.
void QueueClientUnit(CSession* session, const std::string& text)
{
    if (pop3::BeginsWith(text, "USER")) {
        session->m_clientLines.push_back(text);
        return;
    }
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t lf = text.find('\n', pos);
        const size_t end = lf == std::string::npos ? text.size() : lf + 1;
        session->m_clientLines.push_back(text.substr(pos, end - pos));
        pos = end;
    }
}

Breach BreachOf(CAnswerTracker::Fault fault)
{
    switch (fault) {
    case CAnswerTracker::Fault::kTooLong:
        return Breach::kTooLong;
    case CAnswerTracker::Fault::kDoubleStatus:
        return Breach::kDoubleStatus;
    case CAnswerTracker::Fault::kUnowed:
        return Breach::kUnowed;
    default:
        return Breach::kNotStatus;
    }
}

// The server's connection is open and has greeted.
bool LoggedIn(const CSession* session)
{
    return session->m_pServer && session->m_pServer->IsConnected() && !session->m_bGreetingPending;
}

// A server connection is on its way (looking up, connecting, greeting).
bool Opening(const CSession* session)
{
    return session->m_pServer && session->m_pServer->IsActive() && session->m_bGreetingPending;
}

} // namespace

// Lines before the server connection is open are answered here: no client
// line is left without an answer.
void CSession::AnswerBeforeLogin(const std::string& line)
{
    if (pop3::IsCommand(line, "CAPA"))
        SendToClient(txt::kCapabilities);
    else if (pop3::IsCommand(line, "QUIT")) {
        SendToClient(txt::kQuitBeforeLogin);
        m_proxy.DisconnectSession(this);
    } else if (pop3::IsCommand(line, "STLS"))
        SendToClient(txt::kNoTls);
    else
        SendToClient(txt::kNotLoggedIn);
}

void CSession::HandleClientLine(const std::string& line)
{
    const bool analysing = !m_proxy.Host().AnalysisOff();
    if (m_nAuthStep != AuthStep::kNone) {
        AuthContinuation(line);
        return;
    }
    const bool loggedIn = LoggedIn(this);
    if (pop3::BeginsWith(line, "AUTH") && (analysing || !loggedIn)) {
        AuthCommand(line);
        return;
    }
    if (pop3::BeginsWith(line, "USER")) {
        UserHandling(line);
        return;
    }
    if (!loggedIn) {
        AnswerBeforeLogin(line);
        return;
    }
    if (!analysing) {
        PassToServer(line);
        return;
    }
    if (m_bWindowed) {
        WindowLine(line);
        return;
    }
    if (pop3::BeginsWith(line, "STAT")) {
        m_bAnswerAsList = false;
        StartScan(ScanTrigger::kStat, line);
        return;
    }
    if (pop3::BeginsWith(line, "LIST") && m_bAnswerAsList) {
        StartScan(ScanTrigger::kList, line);
        return;
    }
    const bool retr = pop3::BeginsWith(line, "RETR");
    const bool top = pop3::IsCommand(line, "TOP");
    if ((retr || top) && !m_bScanStarted) {
        // The first mailbox command scans the mailbox whatever it is.
        StartScan(ScanTrigger::kOther, line);
        return;
    }
    if (m_nState == kStateServing) {
        if (pop3::BeginsWith(line, "UIDL"))
            PassToServer(line);
        else if (pop3::BeginsWith(line, "LIST"))
            LocalList(line);
        else if (retr)
            LocalRetr(line);
        else if (top)
            LocalTop(line);
        else
            PassToServer(line);
        return;
    }
    PassToServer(line);
}

void CSession::PassToServer(const std::string& line)
{
    // The answers to DELE and RSET decide which messages the client still sees.
    const bool dele = pop3::IsCommand(line, "DELE");
    if (dele || pop3::IsCommand(line, "RSET")) {
        size_t pos = 4;
        int32_t n = 0;
        if (dele && (!ReadSaturated(line, pos, n) || n < 1))
            n = -1; // names no message
        m_noted.push_back(n);
        m_answers.Expect(CAnswerTracker::KindOf(line), CAnswerTracker::Route::kNoted);
    } else {
        m_answers.Expect(CAnswerTracker::KindOf(line));
    }
    SendToServer(line);
    WatchAnswers();
}

void CSession::Noted(bool ok)
{
    if (m_noted.empty())
        return;
    const int32_t n = m_noted.front();
    m_noted.pop_front();
    if (!ok)
        return;
    if (n == 0) {
        for (CMailRecord* record : m_messages)
            record->m_bDeleted = false;
    } else if (CMailRecord* record = m_proxy.RecordAt(this, n)) {
        record->m_bDeleted = true;
    }
}

void CSession::OnClientData(int32_t index)
{
    std::string text;
    if (!m_proxy.ReceiveAll(m_pClient.get(), text, true, index))
        return;
    if (m_pIdleTimer)
        m_pIdleTimer->start();
    // A line cut at the end of the unit waits for the rest of it.
    text.insert(0, std::exchange(m_strClientPartial, std::string()));
    const size_t last = text.rfind('\n');
    const size_t whole = last == std::string::npos ? 0 : last + 1;
    m_strClientPartial = text.substr(whole);
    text.resize(whole);
    // No command line runs past the bound: such a client is not speaking POP3.
    size_t longest = m_strClientPartial.size();
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = text.find('\n', pos) + 1; // every line of `text` has its end
        longest = std::max(longest, end - pos);
        pos = end;
    }
    if (longest > CProxyServer::kMaxClientUnit) {
        m_proxy.AddLog(StrFormat(txt::kClientLineTooLong, index), true);
        SendToClient(txt::kLineTooLong);
        m_proxy.DisconnectSession(this);
        return;
    }
    if (text.empty())
        return;
    // Command recognition works on the text up to its first zero byte.
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    QueueClientUnit(this, text);
    ProcessClientLines();
}

void CSession::ProcessClientLines()
{
    // A step may end the session and destroy this object: whether it is
    // still alive is asked of the proxy, held here, not of a member.
    CProxyServer& proxy = m_proxy;
    const int32_t number = m_nNumber;
    while (!m_clientLines.empty()) {
        // A line waits while the proxy scans, while the server connection
        // opens, and while an answer it asked for is still coming, so that
        // answers reach the client in the order of its lines.
        // A client answered early is served while the download goes on,
        // unless a line of it waits for the server.
        if ((Scanning() && !(m_bWindowed && !m_bDraining)) || Opening(this) || !m_answers.Idle())
            return;
        const std::string line = std::move(m_clientLines.front());
        m_clientLines.pop_front();
        HandleClientLine(line);
        if (!proxy.Alive(this, number))
            return;
    }
}

void CSession::OnServerData(int32_t index)
{
    CProxyServer& proxy = m_proxy;
    const int32_t number = m_nNumber;
    m_bTimerArmed = false;
    std::string text;
    if (!m_bTimerFired) {
        if (!m_proxy.ReceiveAll(m_pServer.get(), text, false, index))
            return;
    }
    if (SecurityPending()) {
        SecurityAnswer(index, text);
        return;
    }
    if (m_bGreetingPending) {
        Greeting(index, text);
        return;
    }
    if (m_nState == kStateDownload) {
        DownloadStep(text);
        return;
    }
    if (Scanning()) {
        ScanStep(text);
        return;
    }
    // Relay and Serving: the answer goes to the client, less what the proxy
    // keeps for itself (capabilities it cannot honour, a login it carries out).
    // The relayed answers are held to the rules of the scan's: a server
    // that says more than it was asked, or what is no answer, is out of
    // step with the commands, and the client's next answer would not be
    // its own.
    std::vector<CAnswerTracker::Event> events;
    const std::string out = m_answers.Feed(text, events);
    if (!out.empty()) {
        const bool truncate = m_proxy.Host().AnalysisOff() ? false : !m_proxy.Debug();
        SendToClient(out.data(), static_cast<int32_t>(out.size()), truncate);
    }
    if (const CAnswerTracker::Fault fault = m_answers.Broken(); fault != CAnswerTracker::Fault::kNone) {
        ProtocolError(BreachOf(fault));
        return;
    }
    for (const CAnswerTracker::Event& event : events) {
        if (event.route == CAnswerTracker::Route::kNoted)
            Noted(event.ok);
        if (event.route == CAnswerTracker::Route::kLoginUser && event.ok &&
            !m_strPassCommand.empty()) {
            m_answers.Expect(CAnswerTracker::Kind::kSingle, CAnswerTracker::Route::kLoginPass);
            SendToServer(m_strPassCommand);
        }
        if (event.route == CAnswerTracker::Route::kLoginUser || event.route == CAnswerTracker::Route::kLoginPass)
            m_strPassCommand.clear();
    }
    if (!proxy.Alive(this, number))
        return;
    WatchAnswers();
    ProcessClientLines();
}
