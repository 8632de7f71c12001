// The login through the proxy: the USER line (which opens the server
// connection), AUTH LOGIN and AUTH PLAIN carried out on the client's behalf,
// and the server's greeting, which releases the held USER line.
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

// Back to the state of a fresh login: a new server connection means a new
// mailbox, perhaps of another account.
void ResetLogin(CSession* session)
{
    session->m_answers.Reset();
    session->m_nState = kStateRelay;
    session->m_messages.clear();
    session->m_bAnswerAsList = true;
    session->m_bScanStarted = false;
    session->m_bCapaKnown = false;
    session->m_bPipelining = false;
    session->m_strCapaAnswer.clear();
    session->m_pipeline.clear();
    session->m_strRetrStatus.clear();
    session->m_strTriggerLine.clear();
    session->m_bRetrStatusPending = false;
    session->m_bTimerArmed = false;
    session->m_bTimerFired = false;
    session->m_bQuiet = false;
    if (session->m_pGraceTimer)
        session->m_pGraceTimer->stop();
    StopSilence(session);
}

// Opens the server connection for a login; the USER line (and for AUTH the
// PASS line) waits for the server's greeting.
void OpenServer(CProxyServer& hub, CSession* session, const CUserLine& user, std::string passCommand)
{
    if (user.namesServer) {
        session->m_strServerHost = user.host;
        if (user.hasPort)
            session->m_nServerPort = user.port;
    } else {
        session->m_strServerHost = hub.Settings().m_strPopServer;
        session->m_nServerPort = 110;
    }
    session->m_strUserCommand = user.line;
    session->m_strUserName = user.userName;
    session->m_strPassCommand = std::move(passCommand);

    // A login while a server connection is open replaces that connection.
    if (session->m_pServer && session->m_pServer->IsActive())
        session->m_pServer->Close();
    ResetLogin(session);
    session->m_pServer = std::make_unique<CClientSocket>(hub);
    session->m_bGreetingPending = true;

    if (session->m_nServerPort < 1 || session->m_nServerPort > 65535) {
        hub.AddLog(StrFormat(txt::kServerConnectFailed, session->m_strServerHost.c_str(), session->m_nServerPort),
                   true);
        hub.EndAfterConnectFailure(session);
        return;
    }
    session->m_pServer->Connect(session->m_strServerHost, static_cast<uint16_t>(session->m_nServerPort));
    // Connecting and greeting get the same limit as a silent server.
    ArmSilence(hub, session);
}

std::string TrimLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    return std::string(line);
}

void Login(CProxyServer& hub, CSession* session, const std::string& user, const std::string& password)
{
    if (user.empty() || !IsSafeCredential(user) || !IsSafeCredential(password)) {
        hub.SendToClient(session, txt::kAuthInvalid);
        return;
    }
    const CUserLine parsed = ParseUserLine("USER " + user + "\r\n");
    OpenServer(hub, session, parsed, "PASS " + password + "\r\n");
}

void LoginPlain(CProxyServer& hub, CSession* session, const std::string& base64)
{
    const auto message = DecodeBase64Strict(base64);
    const auto credentials = message ? SplitPlainCredentials(*message) : std::nullopt;
    if (!credentials) {
        hub.SendToClient(session, txt::kAuthInvalid);
        return;
    }
    Login(hub, session, credentials->first, credentials->second);
}

} // namespace

void UserHandling(CProxyServer& hub, CSession* session, const std::string& text)
{
    const CUserLine user = ParseUserLine(text);
    if (!user.rest.empty()) {
        // Lines that followed the USER line keep their turn.
        std::deque<std::string> rest;
        size_t pos = 0;
        while (pos < user.rest.size()) {
            const size_t lf = user.rest.find('\n', pos);
            const size_t end = lf == std::string::npos ? user.rest.size() : lf + 1;
            rest.push_back(user.rest.substr(pos, end - pos));
            pos = end;
        }
        session->m_clientLines.insert(session->m_clientLines.begin(), rest.begin(), rest.end());
    }
    OpenServer(hub, session, user, std::string());
}

void AuthCommand(CProxyServer& hub, CSession* session, const std::string& line)
{
    hub.AddLog(txt::kAuthRequested, true);
    std::string_view rest = std::string_view(line).substr(4);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    const size_t mechEnd = rest.find_first_of(" \r\n");
    const std::string mechanism = w1252::Upper(rest.substr(0, mechEnd));
    const std::string argument = mechEnd == std::string_view::npos ? std::string() : TrimLine(rest.substr(mechEnd));

    if (mechanism.empty()) {
        hub.SendToClient(session, txt::kAuthMechanisms);
    } else if (mechanism == "LOGIN") {
        if (argument.empty()) {
            session->m_nAuthStep = AuthStep::kLoginUser;
            hub.SendToClient(session, txt::kAuthUserPrompt);
            return;
        }
        const auto user = DecodeBase64Strict(argument);
        if (!user) {
            hub.SendToClient(session, txt::kAuthInvalid);
            return;
        }
        session->m_strAuthUser = *user;
        session->m_nAuthStep = AuthStep::kLoginPassword;
        hub.SendToClient(session, txt::kAuthPassPrompt);
    } else if (mechanism == "PLAIN") {
        if (argument.empty()) {
            session->m_nAuthStep = AuthStep::kPlain;
            hub.SendToClient(session, txt::kAuthPlainPrompt);
            return;
        }
        LoginPlain(hub, session, argument == "=" ? std::string() : argument);
    } else {
        hub.SendToClient(session, txt::kAuthUnknown);
    }
}

void AuthContinuation(CProxyServer& hub, CSession* session, const std::string& line)
{
    const AuthStep step = session->m_nAuthStep;
    session->m_nAuthStep = AuthStep::kNone;
    const std::string answer = TrimLine(line);
    if (answer == "*") {
        session->m_strAuthUser.clear();
        hub.SendToClient(session, txt::kAuthCancelled);
        return;
    }
    if (step == AuthStep::kPlain) {
        LoginPlain(hub, session, answer);
        return;
    }
    const auto decoded = DecodeBase64Strict(answer);
    if (!decoded) {
        session->m_strAuthUser.clear();
        hub.SendToClient(session, txt::kAuthInvalid);
        return;
    }
    if (step == AuthStep::kLoginUser) {
        session->m_strAuthUser = *decoded;
        session->m_nAuthStep = AuthStep::kLoginPassword;
        hub.SendToClient(session, txt::kAuthPassPrompt);
        return;
    }
    const std::string user = std::move(session->m_strAuthUser);
    session->m_strAuthUser.clear();
    Login(hub, session, user, *decoded);
}

void Greeting(CProxyServer& hub, CSession* session, int32_t index, const std::string& text)
{
    session->m_bGreetingPending = false;
    StopSilence(session);
    if (!session->m_strPassCommand.empty()) {
        session->m_answers.Expect(CAnswerTracker::Kind::kSingle, CAnswerTracker::Route::kLoginUser);
    } else {
        // One answer per line of the held text (USER and PASS may come together).
        const std::string& held = session->m_strUserCommand;
        size_t pos = 0;
        while (pos < held.size()) {
            const size_t lf = held.find('\n', pos);
            const size_t end = lf == std::string::npos ? held.size() : lf + 1;
            session->m_answers.Expect(CAnswerTracker::KindOf(std::string_view(held).substr(pos, end - pos)));
            pos = end;
        }
    }
    hub.SendToServer(session, session->m_strUserCommand);
    hub.AddLog(StrFormat(txt::kServerGreeted, index, session->m_strServerHost.c_str(), session->m_nServerPort),
               true);
    std::string trace = StrFormat(txt::kTracePrefix, index);
    trace += txt::kLabelToClient;
    trace += pop3::TraceText(text, true);
    hub.AddLog(std::move(trace), true);
    ProcessClientLines(hub, session);
}

} // namespace relay
