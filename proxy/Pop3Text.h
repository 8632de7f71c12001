// Reading and building the POP3 texts the proxy handles itself: command
// words, status-line numbers, the LIST and UIDL answers of a scan, the TOP
// answer from a stored message, the trace text of the activity log. Numbers
// from the network are read with saturation: a huge or overflowing value
// never wraps around.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pop3 {

// True when `text` begins with `word`, compared without regard to case.
bool BeginsWith(std::string_view text, std::string_view word);
// True when the command line `line` is the command `word` (any case),
// alone or followed by a blank or the line's end.
bool IsCommand(std::string_view line, std::string_view word);

// "+OK %d %d": how many of the two numbers could be read (0, 1 or 2).
int ReadOkNumbers(std::string_view text, int32_t& first, int32_t& second);

// The messages of a LIST answer: (number, size) for every line that gives two
// numbers, in the order of the lines. The numbers are the server's: after a
// DELE they have gaps. A number below 1, or one already listed, is left out.
std::vector<std::pair<int32_t, int32_t>> ParseListing(std::string_view answer);

// The UIDLs of a UIDL answer by message number.
std::map<int32_t, std::string> ParseUidls(std::string_view answer);

// The TOP answer body from a stored retrieval text (which ends with the
// closing ".\r\n" line): the header, the empty line, the first `lines` body
// lines, and the closing line.
std::string TopOfMessage(std::string_view stored, int32_t lines);

// True when `text` ends a multi-line answer: it is the closing line alone, or
// ends with a line feed, "." and a line end (CR LF, or LF alone from servers
// that pass stored files through).
bool EndsMultiLine(std::string_view text);
// The same for the message bytes stored from a retrieval.
bool EndsRetrieval(std::string_view stored);
// True when a retrieval text (closing line included) is longer than the
// size the server listed for it by exactly one of its lines, and that line
// is a status line: an answer out of step left a line in the message.
bool LongerByStatusLine(std::string_view stored, int32_t listed);
// One past the first closing line ("." alone after a line feed) of `text`
// that ends after `after`, or npos.
size_t ClosingLineEnd(std::string_view text, size_t after);

// True when a CAPA answer lists `capability` on a line of its own (perhaps
// followed by arguments), compared without regard to case.
bool ListsCapability(std::string_view answer, std::string_view capability);

// A status line longer than this is not a POP3 answer.
inline constexpr size_t kMaxStatusLine = 65536;

// Whether `text` opens with a status line ("+OK" or "-ERR"), does not, or
// is too short to tell (a beginning of either, with no line end yet).
enum class Opening { kStatus, kOther, kUndecided };
Opening StatusOpening(std::string_view text);

// Where the first answer at the start of `bytes` ends. Incomplete: more
// bytes are needed. NotStatus: the status line begins with neither "+OK"
// nor "-ERR". TooLong: the status line passes kMaxStatusLine, or the answer
// `maxLength`, without ending. DoubleStatus: the body of a multi-line answer
// begins with a status line.
struct AnswerCut {
    enum class Kind { kIncomplete, kComplete, kNotStatus, kTooLong, kDoubleStatus };
    Kind kind = Kind::kIncomplete;
    size_t length = 0; // Complete: the answer's bytes, its closing line included
    bool ok = false;   // the status line begins with "+OK"
};
// `multiLine`: a "+OK" answer goes on to its closing line (LIST, UIDL, CAPA,
// RETR); an "-ERR" answer is always one line. The bytes of a line may be
// anything, zero bytes included.
AnswerCut CutAnswer(std::string_view bytes, bool multiLine, size_t maxLength);

// How many bytes of `part` belong to a multi-line answer whose body bytes
// so far are `stored`: up to and including its closing line, or npos when
// the closing line is not in `part`. A closing line that `stored` already
// ends with does not count again.
size_t AnswerEnd(std::string_view stored, std::string_view part);

// The part of `text` that the activity log keeps for one entry: up to the
// first zero byte and, when `truncate`, no more than shortening leaves, so
// that a large unit is not copied into the log only to be cut there.
std::string_view TraceText(std::string_view text, bool truncate);

// `text` with a password line masked whatever its case ("pass", "Pass"...):
// the log itself masks only the upper-case word.
std::string MaskPasswords(std::string text);

} // namespace pop3
