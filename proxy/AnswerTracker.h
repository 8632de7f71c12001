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
    // up to ".". Capa: like Multi, with PIPELINING, STLS and SASL removed and
    // the proxy's own PIPELINING put last.
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

    // How the server's bytes broke the protocol: a status line that begins
    // with neither "+OK" nor "-ERR", a status or capability line with no end
    // within kMaxStatusLine, a second status line where a multi-line answer's
    // body should begin, or bytes that arrive when no answer is owed.
    enum class Fault { kNone, kNotStatus, kTooLong, kDoubleStatus, kUnowed };

    // The kind of answer a client command line gets.
    static Kind KindOf(std::string_view line);

    void Expect(Kind kind, Route route = Route::kToClient);
    bool Idle() const { return m_pending.empty(); }
    void Reset();
    // The server broke the protocol: nothing from the faulty bytes on has
    // been handed out, and Feed hands out nothing more.
    Fault Broken() const { return m_nFault; }
    // Part of the oldest owed answer has arrived.
    bool Begun() const { return !m_pending.empty() && (m_bInBody || !m_line.empty()); }

    // Takes the next server bytes; returns what goes to the client and adds
    // one event per answer of a route other than ToClient whose status line
    // is complete. Status lines are held until whole, so a broken one never
    // reaches the client.
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
    bool m_bBodyStart = false; // the body's first bytes are held until they show no status line
    std::string m_line;      // the current status or capability line, or the body's first bytes (held)
    size_t m_nLineLength = 0; // body lines: length of the current line so far
    bool m_bLineStartsDot = false;
    Fault m_nFault = Fault::kNone;
};

// True for a capability line that the proxy cannot honour for its clients.
bool IsDroppedCapability(std::string_view line);
