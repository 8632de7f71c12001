// The protection of the server connection, as ServerSecurity asks: implicit
// TLS from the first byte, STLS between the server's greeting and the held
// login, or plain. Where TLS was chosen, nothing of the login reaches the
// server before the handshake has succeeded, and a failure never falls back
// to clear text: the session ends like a failed connection, saying why.
#include "base/Format.h"
#include "base/Texts.h"
#include "proxy/Pop3Text.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"

#include "base/MessageStore.h"
#include "base/Win1252.h"

#include <QHostAddress>

namespace {

struct Why {
    TlsFailure failure;
    const char* log;    // French, for the activity log
    const char* answer; // for the client's -ERR line
};

constexpr Why kWhy[] = {
    {TlsFailure::kUnavailable, txt::kTlsWhyUnavailable, txt::kTlsWhyUnavailableEn},
    {TlsFailure::kCaFile, txt::kTlsWhyCaFile, txt::kTlsWhyCaFileEn},
    {TlsFailure::kExpired, txt::kTlsWhyExpired, txt::kTlsWhyExpiredEn},
    {TlsFailure::kNotYetValid, txt::kTlsWhyNotYetValid, txt::kTlsWhyNotYetValidEn},
    {TlsFailure::kHostName, txt::kTlsWhyHostName, txt::kTlsWhyHostNameEn},
    {TlsFailure::kUntrusted, txt::kTlsWhyUntrusted, txt::kTlsWhyUntrustedEn},
    {TlsFailure::kRevoked, txt::kTlsWhyRevoked, txt::kTlsWhyRevokedEn},
    {TlsFailure::kCertificate, txt::kTlsWhyCertificate, txt::kTlsWhyCertificateEn},
    {TlsFailure::kHandshake, txt::kTlsWhyHandshake, txt::kTlsWhyHandshakeEn},
    {TlsFailure::kNoStls, txt::kTlsWhyNoStls, txt::kTlsWhyNoStlsEn},
    {TlsFailure::kStlsRefused, txt::kTlsWhyStlsRefused, txt::kTlsWhyStlsRefusedEn},
    {TlsFailure::kInjected, txt::kTlsWhyInjected, txt::kTlsWhyInjectedEn},
    {TlsFailure::kStlsWithdrawn, txt::kTlsWhyWithdrawn, txt::kTlsWhyWithdrawnEn},
};

const Why& WhyOf(TlsFailure failure)
{
    for (const Why& why : kWhy)
        if (why.failure == failure)
            return why;
    return WhyOf(TlsFailure::kUnavailable); // kNone: the connection could not encrypt
}

} // namespace

bool CProxyServer::KnownTlsServer(const std::string& server)
{
    if (m_tlsServers.count(server))
        return true;
    IMessageStore* store = Store();
    if (!store || !store->SpokeTls(server))
        return false;
    m_tlsServers.insert(server);
    return true;
}

void CProxyServer::NoteTlsServer(const std::string& server)
{
    m_tlsServers.insert(server);
    if (IMessageStore* store = Store(); store && !store->SpokeTls(server))
        store->NoteTls(server);
}

std::string CSession::TlsServerKey() const
{
    return w1252::Lower(m_strServerHost) + ":" + std::to_string(m_nServerPort);
}

void CSession::LogLoginInClear()
{
    if (m_pServer && !m_pServer->EncryptionDescription().empty())
        return;
    const QHostAddress address(QString::fromStdString(m_strServerHost));
    if (address.isLoopback() || w1252::EqualsNoCase(m_strServerHost, "localhost"))
        return;
    m_proxy.AddLog(StrFormat(txt::kCredentialsInClear, m_proxy.SessionIndex(this), m_strServerHost.c_str(),
                             m_nServerPort),
                   true);
}

int32_t CSession::DefaultServerPort() const
{
    return m_proxy.Settings().m_nServerSecurity == ServerSecurity::kTls ? 995 : 110;
}

bool CSession::ChooseSecurity()
{
    const ServerSecurity mode = m_proxy.Settings().m_nServerSecurity;
    m_nSecurity = Security::kSettled;
    m_strHeldGreeting.clear();
    m_strSecurityAnswer.clear();
    if (mode == ServerSecurity::kTls || (mode == ServerSecurity::kAuto && m_nServerPort == 995)) {
        if (!m_pServer->EncryptOnConnect({m_strServerHost, m_proxy.Settings().m_strServerCertificate})) {
            EndForTls(m_pServer->EncryptionFailure());
            return false;
        }
    } else if (mode == ServerSecurity::kStartTls) {
        m_nSecurity = Security::kRequireStls;
    } else if (mode == ServerSecurity::kAuto) {
        m_nSecurity = Security::kAskCapa;
    }
    return true;
}

bool CSession::HoldLoginForSecurity(const std::string& greeting)
{
    if (m_nSecurity != Security::kAskCapa && m_nSecurity != Security::kRequireStls)
        return false;
    m_strHeldGreeting = greeting;
    if (m_nSecurity == Security::kRequireStls) {
        m_nSecurity = Security::kStlsSent;
        SendToServer("STLS\r\n");
    } else {
        m_nSecurity = Security::kCapaSent;
        SendToServer("CAPA\r\n");
    }
    return true;
}

bool CSession::SecurityPending() const
{
    return m_nSecurity == Security::kCapaSent || m_nSecurity == Security::kStlsSent ||
           m_nSecurity == Security::kHandshake;
}

void CSession::SecurityAnswer(int32_t index, const std::string& text)
{
    if (m_nSecurity == Security::kHandshake)
        return; // the socket hands over nothing readable before the handshake's end
    m_strSecurityAnswer += text;
    const std::string_view answer = m_strSecurityAnswer;
    const size_t lf = answer.find('\n');
    // Held to the bound of the scan's CAPA answer, line and whole.
    if (answer.size() > pop3::kMaxStatusLine) {
        ProtocolError(Breach::kTooLong);
        return;
    }
    if (lf == std::string_view::npos)
        return;
    const bool ok = pop3::BeginsWith(answer, "+OK");
    if (m_nSecurity == Security::kCapaSent) {
        if (ok && !pop3::EndsMultiLine(answer))
            return;
        const bool offered = ok && pop3::ListsCapability(answer, "STLS");
        if (!offered && ok) {
            // The connection stays as it is, and so do its capabilities:
            // the scan need not ask again.
            m_bCapaKnown = true;
            m_bPipelining = pop3::ListsCapability(answer, "PIPELINING");
        }
        m_strSecurityAnswer.clear();
        if (!offered && m_proxy.KnownTlsServer(TlsServerKey())) {
            // It offered STLS before: someone on the way may have taken it
            // out of this answer to read the password.
            EndForTls(TlsFailure::kStlsWithdrawn);
            return;
        }
        if (!offered) {
            // auto, and nothing better on offer: plain, as asked.
            m_nSecurity = Security::kSettled;
            const std::string greeting = std::move(m_strHeldGreeting);
            Greeting(index, greeting);
            return;
        }
        m_proxy.NoteTlsServer(TlsServerKey());
        m_nSecurity = Security::kStlsSent;
        SendToServer("STLS\r\n");
        return;
    }
    const bool injected = lf + 1 < answer.size();
    m_strSecurityAnswer.clear();
    if (!ok) {
        const bool required = m_proxy.Settings().m_nServerSecurity == ServerSecurity::kStartTls;
        EndForTls(required ? TlsFailure::kNoStls : TlsFailure::kStlsRefused);
        return;
    }
    if (injected) {
        EndForTls(TlsFailure::kInjected);
        return;
    }
    m_nSecurity = Security::kHandshake;
    if (!m_pServer->StartEncryption({m_strServerHost, m_proxy.Settings().m_strServerCertificate}))
        EndForTls(m_pServer->EncryptionFailure());
}

void CSession::OnEncrypted(IConnection* connection, bool ok)
{
    if (connection != m_pServer.get() || m_nSecurity != Security::kHandshake)
        return;
    if (!ok) {
        EndForTls(connection->EncryptionFailure());
        return;
    }
    m_nSecurity = Security::kSettled;
    LogEncryption();
    const int32_t index = m_proxy.SessionIndex(this);
    const std::string greeting = std::move(m_strHeldGreeting);
    Greeting(index, greeting);
}

void CSession::LogEncryption()
{
    const std::string description = m_pServer ? m_pServer->EncryptionDescription() : std::string();
    if (description.empty())
        return;
    m_proxy.NoteTlsServer(TlsServerKey());
    m_proxy.AddLog(StrFormat(txt::kTlsEncrypted, m_proxy.SessionIndex(this), m_strServerHost.c_str(), m_nServerPort,
                             description.c_str()),
                   true);
}

void CSession::EndForTls(TlsFailure failure)
{
    StopSilence();
    m_nSecurity = Security::kSettled;
    const Why& why = WhyOf(failure);
    m_proxy.AddLog(StrFormat(txt::kTlsFailed, m_strServerHost.c_str(), m_nServerPort, why.log), true);
    m_proxy.EndAfterConnectFailure(this, why.answer);
}
