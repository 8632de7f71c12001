// Text operations that undo the tricks spam uses against plain matching: HTML
// markup, tiny-font spans, repeated characters. Stateless; Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CTextTools
{
public:
    CTextTools() = default;
    virtual ~CTextTools() = default;

    // Position of the first occurrence of `pattern` in `text`, both compared in
    // upper case; -1 when there is none.
    int32_t FindNoCase(std::string_view text, std::string_view pattern) const;

    // Deletes spans from an opening tag holding every word of `openWords` to the
    // next tag holding every word of `closeWords` (words compared in upper
    // case), from the first "Status:" on. With `sizeLimit` not 0, the first
    // opening tag whose last digit exceeds the limit ends the work.
    std::string RemoveFontSpans(std::string text, const std::vector<std::string>& openWords,
                                const std::vector<std::string>& closeWords, int32_t sizeLimit) const;

    // Tiny-font spans, then every tag, from the first "Status:" on.
    std::string StripHtml(std::string text) const;

    // Each run of `c` becomes one `c`.
    std::string SqueezeChar(std::string text, char c) const;
    // Each run of one repeated character becomes one character.
    std::string SqueezeRepeats(std::string text) const;
    // CR, LF and TAB become blanks, then each run of blanks one blank: the
    // replacement followed by SqueezeChar with the blank, in one pass.
    std::string FlattenBlanks(std::string text) const;
};
