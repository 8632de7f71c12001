// OnSocketReceive: the client's lines and the server's answers, by state.
#include "proxy/Relay.h"

#include "proxy/Pop3Text.h"
#include "proxy/Sockets.h"
#include "base/Format.h"
#include "proxy/ProxyServer.h"
#include "base/Texts.h"

void CProxyServer::OnSocketReceive(CClientSocket* socket)
{
    int32_t index = 0;
    CSession* session = SessionOfSocket(socket, &index);
    if (!session)
        return;
    if (socket == session->m_pClient.get())
        relay::OnClientData(*this, session, index);
    else
        relay::OnServerData(*this, session, index);
}

namespace relay {

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

bool IsWord(const std::string& line, std::string_view word)
{
    if (!pop3::BeginsWith(line, word))
        return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\r' ||
           line[word.size()] == '\n' || line[word.size()] == '\t';
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

// Lines before the server connection is open are answered here: no client
// line is left without an answer.
void AnswerBeforeLogin(CProxyServer& hub, CSession* session, const std::string& line)
{
    if (IsWord(line, "CAPA"))
        hub.SendToClient(session, txt::kCapabilities);
    else if (IsWord(line, "QUIT")) {
        hub.SendToClient(session, txt::kQuitBeforeLogin);
        hub.DisconnectSession(session);
    } else if (IsWord(line, "STLS"))
        hub.SendToClient(session, txt::kNoTls);
    else
        hub.SendToClient(session, txt::kNotLoggedIn);
}

void HandleClientLine(CProxyServer& hub, CSession* session, const std::string& line)
{
    const bool analysing = !hub.Host().AnalysisOff();
    if (session->m_nAuthStep != AuthStep::kNone) {
        AuthContinuation(hub, session, line);
        return;
    }
    const bool loggedIn = LoggedIn(session);
    if (pop3::BeginsWith(line, "AUTH") && (analysing || !loggedIn)) {
        AuthCommand(hub, session, line);
        return;
    }
    if (pop3::BeginsWith(line, "USER")) {
        UserHandling(hub, session, line);
        return;
    }
    if (!loggedIn) {
        AnswerBeforeLogin(hub, session, line);
        return;
    }
    if (!analysing) {
        PassToServer(hub, session, line);
        return;
    }
    if (pop3::BeginsWith(line, "STAT")) {
        session->m_bAnswerAsList = false;
        StartScan(hub, session, ScanTrigger::kStat, line);
        return;
    }
    if (pop3::BeginsWith(line, "LIST") && session->m_bAnswerAsList) {
        StartScan(hub, session, ScanTrigger::kList, line);
        return;
    }
    const bool retr = pop3::BeginsWith(line, "RETR");
    const bool top = IsWord(line, "TOP");
    if ((retr || top) && !session->m_bScanStarted) {
        // The first mailbox command scans the mailbox whatever it is.
        StartScan(hub, session, ScanTrigger::kOther, line);
        return;
    }
    if (session->m_nState == kStateServing) {
        if (pop3::BeginsWith(line, "UIDL"))
            PassToServer(hub, session, line);
        else if (pop3::BeginsWith(line, "LIST"))
            LocalList(hub, session, line);
        else if (retr)
            LocalRetr(hub, session, line);
        else if (top)
            LocalTop(hub, session, line);
        else
            PassToServer(hub, session, line);
        return;
    }
    PassToServer(hub, session, line);
}

} // namespace

void PassToServer(CProxyServer& hub, CSession* session, const std::string& line)
{
    session->m_answers.Expect(CAnswerTracker::KindOf(line));
    hub.SendToServer(session, line);
}

void OnClientData(CProxyServer& hub, CSession* session, int32_t index)
{
    std::string text;
    if (!hub.ReceiveAll(session->m_pClient.get(), text, true, index))
        return;
    // Command recognition works on the text up to its first zero byte.
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    QueueClientUnit(session, text);
    ProcessClientLines(hub, session);
}

void ProcessClientLines(CProxyServer& hub, CSession* session)
{
    const int32_t number = session->m_nNumber;
    while (!session->m_clientLines.empty()) {
        // A line waits while the proxy scans, while the server connection
        // opens, and while an answer it asked for is still coming, so that
        // answers reach the client in the order of its lines.
        if (session->Scanning() || Opening(session) || !session->m_answers.Idle())
            return;
        const std::string line = std::move(session->m_clientLines.front());
        session->m_clientLines.pop_front();
        HandleClientLine(hub, session, line);
        if (!hub.Alive(session, number))
            return;
    }
}

void OnServerData(CProxyServer& hub, CSession* session, int32_t index)
{
    const int32_t number = session->m_nNumber;
    session->m_bTimerArmed = false;
    std::string text;
    if (!session->m_bTimerFired) {
        if (!hub.ReceiveAll(session->m_pServer.get(), text, false, index))
            return;
    }
    if (session->m_bGreetingPending) {
        Greeting(hub, session, index, text);
        return;
    }
    if (session->m_nState == kStateDownload) {
        DownloadStep(hub, session, text);
        return;
    }
    if (session->Scanning()) {
        const size_t nul = text.find('\0');
        ScanStep(hub, session, nul == std::string::npos ? text : text.substr(0, nul));
        return;
    }
    // Relay and Serving: the answer goes to the client, less what the proxy
    // keeps for itself (capabilities it cannot honour, a login it carries out).
    std::vector<CAnswerTracker::Event> events;
    const std::string out = session->m_answers.Feed(text, events);
    if (!out.empty()) {
        const bool truncate = hub.Host().AnalysisOff() ? false : !hub.Debug();
        hub.SendToClient(session, out.data(), static_cast<int32_t>(out.size()), truncate);
    }
    for (const CAnswerTracker::Event& event : events) {
        if (event.route == CAnswerTracker::Route::kLoginUser && event.ok &&
            !session->m_strPassCommand.empty()) {
            session->m_answers.Expect(CAnswerTracker::Kind::kSingle, CAnswerTracker::Route::kLoginPass);
            hub.SendToServer(session, session->m_strPassCommand);
        }
        if (event.route == CAnswerTracker::Route::kLoginUser || event.route == CAnswerTracker::Route::kLoginPass)
            session->m_strPassCommand.clear();
    }
    if (hub.Alive(session, number))
        ProcessClientLines(hub, session);
}

} // namespace relay
