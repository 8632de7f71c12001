// Where a message's header ends and where its fields stand. Lines may end in
// CR LF or in LF alone.
#pragma once

#include <string>
#include <string_view>

// Start of the first empty line (the blank line between header and body), or
// npos when the text has none.
size_t FindHeaderEnd(std::string_view text);

// Start of the line of the header field `name` ("Subject", "From"): the first
// line of `header` that begins with the name and a colon, compared without
// regard to case; npos when there is none.
size_t FindHeaderField(std::string_view header, std::string_view name);

// End of the field whose line starts at `lineStart`: the position of the line
// end of its last line (folded lines begin with a blank or a tab).
size_t FieldEnd(std::string_view header, size_t lineStart);

// The text that the analysis reads: the stored text up to its first zero byte,
// with a line "Status: \r\n" added at the end of the header when no "Status:"
// stands before the first empty line. A text without an empty line is kept as
// it is.
std::string WithStatusLine(std::string_view text);

// True when `analysis` is WithStatusLine(text), found without building it.
bool IsWithStatusLine(std::string_view analysis, std::string_view text);

// `value` made fit for a header field the program writes: every control byte
// (CR, LF, NUL, TAB, the others below 0x20, and 0x7F) becomes a blank, so no
// value can end the field or add one; the result is cut to `maxBytes` and
// loses its trailing blanks. Bytes from 0x80 on (Windows-1252 text) are kept
// as they are: one byte is one character, so a cut never splits one.
std::string HeaderFieldValue(std::string_view value, size_t maxBytes);
