// Gathering the six header fields the filter looks at from a message text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The raw values of the fields, in the case in which they arrived, keywords
// cut out, lines joined with nothing between them.
struct CHeaderFields {
    std::string m_strReturnPath;
    std::string m_strFrom;
    std::string m_strTo;
    std::string m_strCc;
    std::string m_strSubject;
    std::string m_strRelays; // every Received field, in order
};

// Scans `text` line by line up to its first "Status:" (the only end-of-header
// test). CRs, '<' and '>' are dropped first. A line holding a colon ends the
// current field unless it begins with a tab; a line that begins with one of the
// keywords (any case) opens that field; every other line adds to the field that
// is open. Encoded words are left as they are.
CHeaderFields ScanHeaderFields(std::string_view text);

// The fields as the analysis takes them: ScanHeaderFields, then the encoded
// words of the Subject decoded into the code page by `decoder`
// (CMailDecoder::DecodeHeaderText, which logs when it decodes), and every
// field written in raw UTF-8 brought into the code page
// (CMailDecoder::RawHeaderText). The message text itself is not changed.
class CMailDecoder;
CHeaderFields ReadHeaderFields(std::string_view text, CMailDecoder& decoder);

// Number of recipients of a To or Cc value: its commas plus one.
int32_t RecipientCount(std::string_view value);
