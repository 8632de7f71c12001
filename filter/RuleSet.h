// The rule file blacklist.txt and the rule set it fills: nine pattern lists
// and two recipient thresholds. Reading and writing are plain functions over a
// view of the hub's members, so they can be tested on their own.
#pragma once

#include "base/OwnedList.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using RuleList = OwnedList<std::string>;

// The nine lists of a rule set.
enum ERuleList : int {
    kRuleFrom = 0,
    kRuleTo,
    kRuleCc,
    kRuleBody,
    kRuleBodyHtml,
    kRuleSubject,
    kRuleRetPath,
    kRuleTrust,
    kRuleRelay,
    kRuleListCount
};

// The members that make up one rule set, wherever they live.
struct CRuleSetRef {
    std::array<RuleList*, kRuleListCount> lists{};
    int32_t* nbrTo = nullptr;
    int32_t* nbrCc = nullptr;
};

// True when some entry of `list` equals `text` without regard to case.
bool RuleListContains(std::string_view text, const RuleList& list);

// Empties every list and switches both thresholds off (-1).
void ClearRuleSet(const CRuleSetRef& rules);

// Fills the rule set from the content of a rule file (raw bytes; CRs are
// dropped wherever they stand, lines end at LF). The set is emptied first.
void ParseRuleFile(std::string_view content, const CRuleSetRef& rules);

// The rule file text for the rule set, lines ending in LF (text-mode writing
// turns them into CR LF): the sections in their fixed order, each keyword on a
// line of its own followed by its entries or its threshold.
std::string FormatRuleFile(const CRuleSetRef& rules);

// The file name of the rule file inside the current directory.
inline constexpr const char kRuleFileName[] = "blacklist.txt";
// Longest directory path the rule file is looked for in.
inline constexpr size_t kMaxRuleFolderLength = 254;
