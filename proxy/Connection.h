// One connection of a session, as the session sees it: bytes out, complete
// units in, and four events. The network implementation is CClientSocket;
// tests and fuzzers drive a session through connections kept in memory.
#pragma once

#include <cstdint>
#include <string>

class IConnection;

// Why the encryption of a connection failed, or could not be had.
enum class TlsFailure {
    kNone,
    kUnavailable,    // no TLS library, or a connection that cannot encrypt
    kCaFile,         // the ServerCertificate file holds no readable certificate
    kExpired,
    kNotYetValid,
    kHostName,       // the certificate names another host
    kUntrusted,      // unknown issuer, or self-signed and not trusted
    kRevoked,
    kCertificate,    // any other fault of the certificate
    kHandshake,      // the peer does not speak TLS, or the handshake broke off
    kNoStls,         // STLS was required and the server does not offer it
    kStlsRefused,    // the server refused STLS
    kInjected,       // clear-text bytes followed the STLS answer
    kStlsWithdrawn,  // auto: a server that offered STLS or spoke TLS before offers it no more
};

// What the server's certificate is checked against: its host name, and
// the system's trust store plus the certificates of an optional PEM file.
struct TlsPeer {
    std::string host;
    std::string extraCaFile;
};

// What a connection reports to its session, on the event-loop thread. The
// session may end (and destroy the connection) inside any of them.
class IConnectionEvents
{
public:
    virtual ~IConnectionEvents() = default;
    // An outgoing connection is open, or could not be opened.
    virtual void OnConnected(IConnection* connection, bool ok) = 0;
    // Bytes arrived (before they make a unit).
    virtual void OnBytes(IConnection* connection) = 0;
    // A unit is complete: UnitReady() holds until TakeUnit.
    virtual void OnUnit(IConnection* connection) = 0;
    // The peer closed the connection; every unit before the end was reported.
    virtual void OnClosed(IConnection* connection) = 0;
    // The handshake that StartEncryption began is over.
    virtual void OnEncrypted(IConnection*, bool) {}
};

class IConnection
{
public:
    virtual ~IConnection() = default;
    virtual void SetEvents(IConnectionEvents* events) = 0;
    virtual void Connect(const std::string& host, uint16_t port) = 0;
    // Connected, or on its way (looking up, connecting).
    virtual bool IsActive() const = 0;
    virtual bool IsConnected() const = 0;
    // Writes bytes; false when the connection cannot take them.
    virtual bool Send(const char* data, int64_t length) = 0;
    // Stops the events and lets the connection go; pending output is still
    // delivered.
    virtual void Close() = 0;
    virtual bool UnitReady() const = 0;
    // Hands over the complete unit and how many read chunks it took.
    virtual std::string TakeUnit(int32_t* chunks = nullptr) = 0;
    // While set, a unit may also end with a full chunk that closes a
    // retrieval answer (see ChunkEndsUnit).
    virtual void SetRetrieving(bool retrieving) = 0;
    // Bytes have arrived that do not make a unit yet.
    virtual bool HoldsPartialUnit() const { return false; }

    // ---- TLS; a connection that cannot encrypt keeps the defaults ----
    // Before Connect: the handshake follows the TCP connection, and
    // OnConnected reports the end of the handshake. False when the
    // connection cannot encrypt.
    virtual bool EncryptOnConnect(const TlsPeer&) { return false; }
    // On the open connection (STLS): the handshake starts; OnEncrypted
    // reports its end. Nothing may be sent until then.
    virtual bool StartEncryption(const TlsPeer&) { return false; }
    // After a failed handshake: why. kNone for a connection failure that
    // has nothing to do with TLS.
    virtual TlsFailure EncryptionFailure() const { return TlsFailure::kNone; }
    // Once encrypted: the protocol and the cipher, e.g. "TLSv1.3, TLS_AES_256_GCM_SHA384".
    virtual std::string EncryptionDescription() const { return std::string(); }
};
