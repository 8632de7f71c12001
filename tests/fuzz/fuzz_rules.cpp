// The rule-file reader on arbitrary bytes: reading never fails, and the
// text written for what was read reads back to the same rules.
#include "filter/RuleSet.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SRuleLists read;
    ParseRuleFile(bytes, read);
    const std::string written = FormatRuleFile(read);
    SRuleLists again;
    ParseRuleFile(written, again);
    if (FormatRuleFile(again) != written)
        std::abort();
    // The matcher on the same bytes as text, against every list read.
    for (const RuleList& list : read.lists)
        (void)RuleListContains(bytes, list);
    return 0;
}
