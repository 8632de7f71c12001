// One connection of a session, as the session sees it: bytes out, complete
// units in, and four events. The network implementation is CClientSocket;
// tests and fuzzers drive a session through connections kept in memory.
#pragma once

#include <cstdint>
#include <string>

class IConnection;

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
};
