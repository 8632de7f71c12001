// Plain, slow versions of the decoders and text operations, written step by
// step from their descriptions with the C library's own scanning. The fast
// versions must give the same bytes on every input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ref {

// Returns false for a malformed run.
bool Base64Run(const std::string& run, std::string* out);
std::string DecodeBase64(std::string text, bool* logged);
std::string Decode8Bit(std::string text, int* logs);
std::string DecodeQuotedPrintable(std::string text, bool* logged);
std::string DecodeHeaderWords(std::string value, bool* logged);
std::string DecodeEntities(std::string text, bool* logged);
std::string ConvertLookAlikes(std::string text);
unsigned char LookAlikeChar(unsigned char c);

int32_t FindNoCase(std::string text, std::string pattern);
std::string RemoveFontSpans(std::string text, std::vector<std::string> open, std::vector<std::string> close,
                            int32_t limit);
std::string StripHtml(std::string text);
std::string SqueezeChar(std::string text, char c);
std::string SqueezeRepeats(std::string text);

} // namespace ref
