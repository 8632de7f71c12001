// A session's connections and host kept in memory: no socket, no listener,
// no turn of the event loop between a unit and its answer. Shared by the
// tests and the fuzz targets.
#pragma once

#include "base/LogSink.h"
#include "base/Models.h"
#include "base/SettingsValues.h"
#include "proxy/Connection.h"
#include "proxy/ProxyServer.h"

#include <memory>
#include <string>
#include <utility>

namespace memory {

// One end of a session's connection: what the session sent, and units the
// test hands it.
class CMemoryConnection : public IConnection
{
public:
    void SetEvents(IConnectionEvents* events) override { m_pEvents = events; }
    void Connect(const std::string& host, uint16_t port) override
    {
        target = host + ":" + std::to_string(port);
        m_bActive = true;
    }
    bool IsActive() const override { return m_bActive; }
    bool IsConnected() const override { return m_bConnected; }
    bool Send(const char* data, int64_t length) override
    {
        sent.append(data, static_cast<size_t>(length));
        if (transcript)
            transcript->append(data, static_cast<size_t>(length));
        return m_bConnected;
    }
    void Close() override { m_bActive = m_bConnected = false; }
    bool UnitReady() const override { return m_bReady; }
    std::string TakeUnit(int32_t* chunks) override
    {
        if (chunks)
            *chunks = 1;
        m_bReady = false;
        return std::move(m_unit);
    }
    void SetRetrieving(bool) override {}
    bool EncryptOnConnect(const TlsPeer& peer) override
    {
        tlsPeer = peer.host;
        encryptOnConnect = encrypted = canEncrypt;
        return canEncrypt;
    }
    bool StartEncryption(const TlsPeer& peer) override
    {
        tlsPeer = peer.host;
        handshaking = canEncrypt;
        return canEncrypt;
    }
    TlsFailure EncryptionFailure() const override { return failure; }
    std::string EncryptionDescription() const override { return encrypted ? "TLSv1.3, TEST_CIPHER" : ""; }

    // The test's side.
    // An outgoing connection reports that it is open; an accepted one is.
    void Open()
    {
        m_bActive = m_bConnected = true;
        if (!target.empty())
            m_pEvents->OnConnected(this, true);
    }
    void Deliver(std::string unit)
    {
        m_unit = std::move(unit);
        m_bReady = true;
        m_pEvents->OnUnit(this);
    }
    std::string Sent() { return std::exchange(sent, std::string()); }
    // The STLS handshake ends.
    void FinishHandshake(TlsFailure why)
    {
        handshaking = false;
        failure = why;
        encrypted = why == TlsFailure::kNone;
        m_pEvents->OnEncrypted(this, encrypted);
    }

    // Also gets what is sent: it outlives the connection.
    std::string* transcript = nullptr;
    bool canEncrypt = false;
    bool encryptOnConnect = false;
    bool handshaking = false;
    bool encrypted = false;
    TlsFailure failure = TlsFailure::kNone;
    std::string tlsPeer;

    std::string sent;
    std::string target;

private:
    IConnectionEvents* m_pEvents = nullptr;
    std::string m_unit;
    bool m_bReady = false;
    bool m_bActive = false;
    bool m_bConnected = false;
};

// A host without windows: the log is captured, the analysis tags nothing.
class CQuietHost : public IProxyHost
{
public:
    void AddLog(std::string text, bool truncate) override { log.AddLog(std::move(text), truncate); }
    const CSettings& Settings() const override { return settings; }
    bool Debug() const override { return false; }
    bool AnalysisOff() const override { return false; }
    CProgressModel& Progress() override { return progress; }
    CConnectionListModel& Connections() override { return connections; }
    void SetTrayIcon(bool, bool) override {}
    void MailCheckStarted() override {}
    void PrepareAnalysis(CSession*, CMailRecord*) override {}
    bool AnalyseMessages(CSession* session) override
    {
        for (CMailRecord* record : session->m_messages)
            record->m_bAnalysed = true;
        return true;
    }
    void ShowStartupMessage(const std::string&, const std::string&) override {}

    CCapturedLog log;
    CSettings settings;
    CProgressModel progress;
    CConnectionListModel connections;
};

} // namespace memory
