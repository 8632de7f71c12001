// Follows the server's answers to the lines the proxy relays, so that the
// proxy knows when an answer is complete (and may answer the client's next
// line itself without overtaking it), can drop the capabilities it cannot
// honour from a CAPA answer, and can carry out a login on the client's behalf.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

class CAnswerTracker
{
public:
    // Single: one status line. Multi: a status line, and after "+OK" lines
    // up to ".". Capa: like Multi, with PIPELINING, STLS and SASL removed.
    enum class Kind { kSingle, kMulti, kCapa };
    // ToClient: the answer goes to the client. Noted: it goes to the client,
    // and the proxy is told whether it was "+OK" (DELE, RSET). LoginUser: the
    // answer to the USER line of an AUTH login, kept from the client.
    // LoginPass: the answer to its PASS line, the client's one final answer.
    enum class Route { kToClient, kNoted, kLoginUser, kLoginPass };

    struct Event {
        Route route;
        bool ok; // the status line began with "+OK"
    };

    // The kind of answer a client command line gets.
    static Kind KindOf(std::string_view line);

    void Expect(Kind kind, Route route = Route::kToClient);
    bool Idle() const { return m_pending.empty(); }
    void Reset();
    // Strict: bytes that arrive when no answer is owed are kept from the
    // client and counted (see Unowed); otherwise they go through.
    void SetStrict(bool strict) { m_bStrict = strict; }
    bool Unowed() const { return m_bUnowed; }
    // Part of the oldest owed answer has arrived.
    bool Begun() const { return !m_pending.empty() && (m_bInBody || !m_line.empty()); }

    // Takes the next server bytes; returns what goes to the client and adds
    // one event per answer of a route other than ToClient whose status line
    // is complete.
    std::string Feed(std::string_view data, std::vector<Event>& events);
    // Bytes held back (a status line without its line end), for a closing
    // connection.
    std::string TakeHeld();

private:
    struct Pending {
        Kind kind;
        Route route;
    };
    void Complete();

    std::deque<Pending> m_pending;
    bool m_bInBody = false;
    std::string m_line;      // the current status or capability line (held)
    size_t m_nLineLength = 0; // body lines: length of the current line so far
    bool m_bLineStartsDot = false;
    bool m_bStrict = false;
    bool m_bUnowed = false;
};

// True for a capability line that the proxy cannot honour for its clients.
bool IsDroppedCapability(std::string_view line);
