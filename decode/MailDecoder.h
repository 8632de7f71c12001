// The message decoders: transfer encodings, numeric and named character
// references, encoded header words and look-alike characters. Every operation
// is byte-in, byte-out on Windows-1252 text and keeps no state between calls;
// the only members say where the log lines go.
#pragma once

#include "base/LogSink.h"

#include <string>
#include <string_view>

// One row of the named-entity table: the name with its '&' and ';', and the
// bytes that replace it.
struct SEntityRow {
    std::string_view name;
    std::string_view replacement;
};

class CMailDecoder
{
public:
    static constexpr int kEntityRows = 125;
    // Searched in this order; see EntityTable.cpp for the rows that differ
    // from the published entity sets on purpose.
    static const SEntityRow EntityTable[kEntityRows];

    // Log lines go to `log` (none without one); a capture lets a decoder
    // work away from the event-loop thread.
    explicit CMailDecoder(ILogSink* log = nullptr) : m_pLog(log) {}
    virtual ~CMailDecoder() = default;

    void SetLog(ILogSink* log) { m_pLog = log; }
    ILogSink* Log() const { return m_pLog; }

    // Decodes the first base64 block after the first ": base64" marker; drops
    // every carriage return once a marker is present.
    std::string DecodeBase64(std::string text, bool log);
    // Decimal character references ("&#65;") when ": 8bit" or ": 7bit" is present.
    std::string Decode8Bit(std::string text, bool log);
    // Soft line breaks, '=' and '%' escapes from the first "Status:" on, when the
    // text names iso-8859-1 or quoted-printable.
    std::string DecodeQuotedPrintable(std::string text, bool log);
    // Named entities of EntityTable, anywhere in the text.
    std::string DecodeEntities(std::string text, bool log);

    // Encoded words (=?charset?B|Q?text?=) of one header value, into their
    // bytes whatever their charset.
    std::string DecodeHeaderWords(std::string value);
    // Encoded words of one header value, into the code page by their charsets.
    // When the value holds a word of the ISO family ("=?ISO-", any case),
    // every word is decoded as DecodeHeaderWords decodes it, and the bytes of
    // the words in other charsets are then converted. Otherwise only well-formed
    // words are decoded and converted (B or Q with valid base64); malformed ones
    // stay as they stand. Adjacent words in one charset are converted together.
    // Logs like DecodeHeaderWords when `log` is set and a word was decoded.
    // A value without a word to decode goes through RawHeaderText.
    std::string DecodeHeaderText(std::string value, bool log);
    // A header value whose encoded words stay as they stand: when it holds
    // none and its bytes are valid UTF-8 with at least one character beyond
    // ASCII (a header written in raw UTF-8), it is brought into the code page
    // as the text of an encoded word would be ('?' for what the code page
    // cannot hold); any other value keeps its bytes.
    static std::string RawHeaderText(std::string value);

    // Applies LookAlikeChar to every byte after the first "Status:" (the whole
    // text when there is none), in place; returns the converted text.
    std::string& ConvertLookAlikes(std::string& text);
    static unsigned char LookAlikeChar(unsigned char c);

private:
    void Write(const char* text, bool log);

    ILogSink* m_pLog = nullptr;
};
