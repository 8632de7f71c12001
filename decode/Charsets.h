// Text declared in a charset, brought into the code page every text of the
// system is kept in (Windows-1252). Characters the code page cannot hold
// become '?', so an ASCII rule still matches around them.
#pragma once

#include <string>
#include <string_view>

// How the bytes of a charset reach the code page.
enum class ECharsetKind {
    kAsIs,  // taken byte for byte: ISO-8859-1 and its names, Windows-1252,
            // US-ASCII, and every charset that cannot be decoded here
    kUtf8,  // UTF-8
    kOther, // any other charset the Qt converters know
};

// The kind of a charset name as a message writes it: any case, with or
// without quotes, an RFC 2231 language suffix ("utf-8*fr") ignored.
ECharsetKind CharsetKind(std::string_view name);

// `bytes` in the charset `name`, converted into the code page by its kind.
std::string ToCodePage(std::string_view bytes, std::string_view name);

// A message text in which each stretch that a "charset=" declaration governs
// is converted into the code page: from the line after the declaration to
// the next line that begins with "--" (a MIME boundary), the line of the next
// declaration, or the end. Text before the first declaration, text after a
// boundary that no declaration follows, and stretches of kAsIs charsets keep
// their bytes.
std::string ConvertDeclaredCharsets(std::string text);
