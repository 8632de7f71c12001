// The four body passes as a function of the message and the compiled body
// lists alone, so they can run on any thread: nothing of the analysis is read
// or written, and the log lines they would write are handed back in order.
#pragma once

#include "base/LogSink.h"
#include "filter/RuleMatcher.h"

#include <cstdint>
#include <string>
#include <vector>

// The compiled BODYHTML list (plain search) and BODY list (plain, and
// without separators). A null matcher stands for an empty list.
struct SBodyMatchers {
    const CRuleMatcher* html = nullptr;
    const CRuleMatcher* plain = nullptr;
    const CRuleMatcher* stripped = nullptr;
};

// What the passes found: the position of the match or -1, the label of the
// pass that matched and the entry as searched, and every log line in the
// order the passes wrote them.
struct SBodyVerdict {
    int32_t position = -1;
    std::string label;
    std::string ruleText;
    CCapturedLog log;
};

// Runs the passes over `message` (the analysis text: header with its
// "Status:" line, then the body). With `debug` the passes' own progress lines
// are in the log as well.
SBodyVerdict RunBodyPasses(const std::string& message, const SBodyMatchers& matchers, bool debug);
