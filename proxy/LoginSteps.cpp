// The login through the proxy: the USER line (which opens the server
// connection), AUTH LOGIN and AUTH PLAIN carried out on the client's behalf,
// and the server's greeting, which releases the held USER line.
#include "base/Base64.h"
#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "proxy/Login.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"
#include "proxy/Sockets.h"

#include <QTimer>
#include <algorithm>

namespace {

std::string TrimLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    return std::string(line);
}

} // namespace

// Opens the server connection for a login; the USER line (and for AUTH the
// PASS line) waits for the server's greeting.
void CSession::OpenServer(const CUserLine& user, std::string passCommand)
{
    bool ambiguous = user.ambiguous;
    if (user.namesServer) {
        m_strServerHost = user.host;
        m_nServerPort = user.hasPort ? user.port : DefaultServerPort();
    } else {
        // POPServer=host or host:port.
        m_nServerPort = DefaultServerPort();
        SplitServerName(m_proxy.Settings().m_strPopServer, m_strServerHost, m_nServerPort, &ambiguous);
    }
    m_strUserCommand = user.line;
    m_strUserName = user.userName;
    m_strPassCommand = std::move(passCommand);

    // A login while a server connection is open replaces that connection.
    if (m_pServer && m_pServer->IsActive())
        m_pServer->Close();
    EnterState(kStateRelay, EFresh::kLogin);
    SetServer(m_proxy.MakeServerConnection());
    m_bGreetingPending = true;
    m_strGreeting.clear();

    // "::1:23290": the address ::1 port 23290, or ::1:23290 port 110? Neither
    // is guessed.
    if (ambiguous) {
        EndForAmbiguousName();
        return;
    }
    // No server named, or no port it could listen on: nothing to try.
    if (m_strServerHost.empty() || m_nServerPort < 1 || m_nServerPort > 65535) {
        m_proxy.AddLog(StrFormat(txt::kServerConnectFailed, m_strServerHost.c_str(), m_nServerPort), true);
        m_proxy.EndAfterConnectFailure(this);
        return;
    }
    if (!ChooseSecurity())
        return;
    m_pServer->Connect(m_strServerHost, static_cast<uint16_t>(m_nServerPort));
    // Connecting and greeting get the same limit as a silent server.
    ArmSilence();
}

void CSession::EndForAmbiguousName()
{
    std::string name = m_strServerHost;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, '?');
    const size_t last = name.rfind(':');
    const std::string address = name.substr(0, last);
    const std::string port = name.substr(last + 1);
    m_proxy.AddLog(StrFormat(txt::kServerNameAmbiguous, name.c_str(), address.c_str(), port.c_str()), true);
    m_proxy.EndWithAnswer(this,
                          StrFormat(txt::kServerNameAmbiguousAnswer, name.c_str(), address.c_str(), port.c_str()));
}

void CSession::Login(const std::string& user, const std::string& password)
{
    if (user.empty() || !IsSafeCredential(user) || !IsSafeCredential(password)) {
        SendToClient(txt::kAuthInvalid);
        return;
    }
    const CUserLine parsed = ParseUserLine("USER " + user + "\r\n");
    OpenServer(parsed, "PASS " + password + "\r\n");
}

void CSession::LoginPlain(const std::string& base64)
{
    const auto message = DecodeBase64Strict(base64);
    const auto credentials = message ? SplitPlainCredentials(*message) : std::nullopt;
    if (!credentials) {
        SendToClient(txt::kAuthInvalid);
        return;
    }
    Login(credentials->first, credentials->second);
}

void CSession::UserHandling(const std::string& text)
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
        m_clientLines.insert(m_clientLines.begin(), rest.begin(), rest.end());
    }
    OpenServer(user, std::string());
}

void CSession::AuthCommand(const std::string& line)
{
    m_proxy.AddLog(txt::kAuthRequested, true);
    std::string_view rest = std::string_view(line).substr(4);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    const size_t mechEnd = rest.find_first_of(" \r\n");
    const std::string mechanism = w1252::Upper(rest.substr(0, mechEnd));
    const std::string argument = mechEnd == std::string_view::npos ? std::string() : TrimLine(rest.substr(mechEnd));

    if (mechanism.empty()) {
        SendToClient(txt::kAuthMechanisms);
    } else if (mechanism == "LOGIN") {
        if (argument.empty()) {
            m_nAuthStep = AuthStep::kLoginUser;
            SendToClient(txt::kAuthUserPrompt);
            return;
        }
        const auto user = DecodeBase64Strict(argument);
        if (!user) {
            SendToClient(txt::kAuthInvalid);
            return;
        }
        m_strAuthUser = *user;
        m_nAuthStep = AuthStep::kLoginPassword;
        SendToClient(txt::kAuthPassPrompt);
    } else if (mechanism == "PLAIN") {
        if (argument.empty()) {
            m_nAuthStep = AuthStep::kPlain;
            SendToClient(txt::kAuthPlainPrompt);
            return;
        }
        LoginPlain(argument == "=" ? std::string() : argument);
    } else {
        SendToClient(txt::kAuthUnknown);
    }
}

void CSession::AuthContinuation(const std::string& line)
{
    const AuthStep step = m_nAuthStep;
    m_nAuthStep = AuthStep::kNone;
    const std::string answer = TrimLine(line);
    if (answer == "*") {
        m_strAuthUser.clear();
        SendToClient(txt::kAuthCancelled);
        return;
    }
    if (step == AuthStep::kPlain) {
        LoginPlain(answer);
        return;
    }
    const auto decoded = DecodeBase64Strict(answer);
    if (!decoded) {
        m_strAuthUser.clear();
        SendToClient(txt::kAuthInvalid);
        return;
    }
    if (step == AuthStep::kLoginUser) {
        m_strAuthUser = *decoded;
        m_nAuthStep = AuthStep::kLoginPassword;
        SendToClient(txt::kAuthPassPrompt);
        return;
    }
    const std::string user = std::move(m_strAuthUser);
    m_strAuthUser.clear();
    Login(user, *decoded);
}

void CSession::Greeting(int32_t index, const std::string& text)
{
    // The greeting is one whole "+OK" line, and nothing may follow it
    // before the proxy has said anything.
    m_strGreeting += text;
    const pop3::AnswerCut cut = pop3::CutAnswer(m_strGreeting, false, pop3::kMaxStatusLine);
    if (cut.kind == pop3::AnswerCut::Kind::kIncomplete)
        return;
    if (cut.kind == pop3::AnswerCut::Kind::kComplete && !cut.ok && cut.length == m_strGreeting.size()) {
        // A refusal: the client's login gets the server's own words.
        std::string line = m_strGreeting;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        m_proxy.AddLog(StrFormat(txt::kGreetingRefused, index, std::string(pop3::TraceText(line, true)).c_str()),
                       true);
        SendToClient(line + "\r\n");
        m_proxy.DisconnectSession(this);
        return;
    }
    if (!AnswerWhole(cut))
        return;
    if (cut.length < m_strGreeting.size()) {
        ProtocolError(Breach::kUnowed);
        return;
    }
    const std::string greeting = std::move(m_strGreeting);
    m_strGreeting.clear();
    // The login goes out once the connection is as ServerSecurity asks;
    // then the greeting comes back here.
    if (HoldLoginForSecurity(greeting))
        return;
    m_bGreetingPending = false;
    if (!m_strPassCommand.empty()) {
        m_answers.Expect(CAnswerTracker::Kind::kSingle, CAnswerTracker::Route::kLoginUser);
    } else {
        // One answer per line of the held text (USER and PASS may come together).
        const std::string& held = m_strUserCommand;
        size_t pos = 0;
        while (pos < held.size()) {
            const size_t lf = held.find('\n', pos);
            const size_t end = lf == std::string::npos ? held.size() : lf + 1;
            m_answers.Expect(CAnswerTracker::KindOf(std::string_view(held).substr(pos, end - pos)));
            pos = end;
        }
    }
    LogLoginInClear();
    SendToServer(m_strUserCommand);
    WatchAnswers(); // now the answer to the login is owed
    m_proxy.AddLog(StrFormat(txt::kServerGreeted, index, m_strServerHost.c_str(), m_nServerPort),
               true);
    std::string trace = StrFormat(txt::kTracePrefix, index);
    trace += txt::kLabelToClient;
    trace += pop3::TraceText(greeting, true);
    m_proxy.AddLog(std::move(trace), true);
    ProcessClientLines();
}
