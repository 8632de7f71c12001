#include "proxy/AnswerTracker.h"

#include "base/Win1252.h"
#include "proxy/Pop3Text.h"

#include <cstring>

namespace {

// The first word of a line, upper case; `rest` gets what follows its blanks.
std::string FirstWord(std::string_view line, std::string_view* rest = nullptr)
{
    size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
           line[end] != '\n')
        ++end;
    if (rest) {
        size_t next = end;
        while (next < line.size() && (line[next] == ' ' || line[next] == '\t'))
            ++next;
        *rest = line.substr(next);
    }
    return w1252::Upper(line.substr(0, end));
}

bool HasArgument(std::string_view rest)
{
    return !rest.empty() && rest[0] != '\r' && rest[0] != '\n';
}

} // namespace

CAnswerTracker::Kind CAnswerTracker::KindOf(std::string_view line)
{
    std::string_view rest;
    const std::string word = FirstWord(line, &rest);
    if (word == "CAPA")
        return Kind::kCapa;
    if (word == "RETR" || word == "TOP")
        return Kind::kMulti;
    if ((word == "LIST" || word == "UIDL") && !HasArgument(rest))
        return Kind::kMulti;
    return Kind::kSingle;
}

bool IsDroppedCapability(std::string_view line)
{
    const std::string word = FirstWord(line);
    return word == "PIPELINING" || word == "STLS" || word == "SASL";
}

void CAnswerTracker::Expect(Kind kind, Route route)
{
    m_pending.push_back({kind, route});
}

void CAnswerTracker::Reset()
{
    m_pending.clear();
    m_nFault = Fault::kNone;
    m_bInBody = false;
    m_bBodyStart = false;
    m_line.clear();
    m_nLineLength = 0;
    m_bLineStartsDot = false;
}

void CAnswerTracker::Complete()
{
    m_pending.pop_front();
    m_bInBody = false;
    m_bBodyStart = false;
    m_line.clear();
    m_nLineLength = 0;
    m_bLineStartsDot = false;
}

std::string CAnswerTracker::Feed(std::string_view data, std::vector<Event>& events)
{
    std::string out;
    size_t pos = 0;
    while (pos < data.size() && m_nFault == Fault::kNone) {
        if (m_pending.empty()) {
            // Nothing is owed: whatever else the server says is out of step
            // with the commands, and would pass for the next answer.
            m_nFault = Fault::kUnowed;
            break;
        }
        const void* lf = std::memchr(data.data() + pos, '\n', data.size() - pos);
        const size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data.data()) + 1
                              : data.size();
        std::string_view piece = data.substr(pos, end - pos);
        pos = end;
        const Pending front = m_pending.front();

        if (!m_bInBody) {
            // The status line is held until it is whole, and judged as soon
            // as its first bytes can no longer begin "+OK" or "-ERR".
            m_line.append(piece);
            if (pop3::StatusOpening(m_line) == pop3::Opening::kOther)
                m_nFault = Fault::kNotStatus;
            else if (m_line.size() > pop3::kMaxStatusLine)
                m_nFault = Fault::kTooLong;
            if (m_nFault != Fault::kNone || !lf)
                break;
            const bool ok = m_line.starts_with("+OK");
            if (front.route != Route::kToClient)
                events.push_back({front.route, ok});
            // Only an accepted USER line of a login carried out for the
            // client stays with the proxy.
            if (front.route != Route::kLoginUser || !ok)
                out += m_line;
            if (ok && front.kind != Kind::kSingle) {
                m_bInBody = true;
                m_bBodyStart = true;
                m_line.clear();
                m_nLineLength = 0;
            } else
                Complete();
            continue;
        }

        // The body's first bytes are held until they show that no second
        // status line opens it; then they go on as any body bytes.
        std::string opening;
        if (m_bBodyStart) {
            m_line.append(piece);
            const pop3::Opening status = pop3::StatusOpening(m_line);
            if (status == pop3::Opening::kStatus)
                m_nFault = Fault::kDoubleStatus;
            if (status != pop3::Opening::kOther)
                break; // a fault, or too few bytes to tell (the data ends here)
            m_bBodyStart = false;
            opening.swap(m_line);
            piece = opening;
        }

        if (front.kind == Kind::kCapa) {
            m_line.append(piece);
            if (m_line.size() > pop3::kMaxStatusLine) {
                m_nFault = Fault::kTooLong;
                break;
            }
            if (!lf)
                break;
            if (m_line == ".\r\n" || m_line == ".\n") {
                // The proxy's own: it answers pipelined lines in order.
                out += "PIPELINING\r\n.\r\n";
                Complete();
                continue;
            }
            if (!IsDroppedCapability(m_line))
                out += m_line;
            m_line.clear();
            continue;
        }

        // Multi-line body: passed on at once; only the terminating "." line
        // has to be recognised.
        out.append(piece);
        if (m_nLineLength == 0)
            m_bLineStartsDot = !piece.empty() && piece[0] == '.';
        // The first bytes of the line are all that matter for ".\r\n".
        for (size_t i = 0; i < piece.size() && m_nLineLength + i < 3; ++i)
            if (m_nLineLength + i == 1 && piece[i] != '\r' && piece[i] != '\n')
                m_bLineStartsDot = false;
        m_nLineLength += piece.size();
        if (!lf)
            continue;
        const bool terminator = m_bLineStartsDot && (m_nLineLength == 3 || m_nLineLength == 2);
        // The closing line goes on as CR LF "." CR LF, whatever ends the
        // server's lines (its "." may have gone on in an earlier piece).
        if (terminator && m_nLineLength == 2)
            out.insert(out.size() - 1, 1, '\r');
        m_nLineLength = 0;
        m_bLineStartsDot = false;
        if (terminator)
            Complete();
    }
    return out;
}

std::string CAnswerTracker::TakeHeld()
{
    std::string held;
    if (!m_bInBody || m_bBodyStart || (!m_pending.empty() && m_pending.front().kind == Kind::kCapa))
        held.swap(m_line);
    return held;
}
