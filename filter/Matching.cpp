// The rule matching of the analysis: the header test, which marks, and the
// body search, which only reports. Both go through rule lists compiled into
// automata (see RuleMatcher.h), so a text is scanned once whatever the number
// of rules.
#include "filter/Analysis.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <optional>

// The cache keeps only the rule set's own lists: it outlives the run and
// must only name lists that live as long as the set.
CRuleMatcher& CAnalysis::MatcherFor(std::optional<CRuleMatcher>& local, const RuleList& list,
                                    CRuleMatcher::EMode mode, bool strip)
{
    if (CRuleMatcher* cached = m_cache.Find(list, mode, strip))
        return *cached;
    local.emplace(list, mode, strip);
    return *local;
}

void CAnalysis::RemoveSeparators(std::string& text, bool alsoSpaces)
{
    RemoveSeparatorsInPlace(text, alsoSpaces);
}

void CAnalysis::MatchHeaderRules(CMailRecord* record, std::string text, RuleList& list,
                                 const std::string& label, int32_t row, bool stripSeparators)
{
    if (!record || record->m_bSpam || list.empty())
        return;
    if (stripSeparators)
        RemoveSeparators(text, true);
    std::optional<CRuleMatcher> local;
    CRuleMatcher& matcher = MatcherFor(local, list, CRuleMatcher::kHeaderTest, stripSeparators);
    const int32_t entry = matcher.FirstHeaderMatch(text);
    if (entry < 0)
        return;
    if (w1252::EqualsNoCase(label, "TRUST")) {
        record->m_bTrusted = true;
        return;
    }
    record->m_strRuleText = matcher.Entry(entry);
    record->m_strFilterLabel = txt::kLabelStringSearch;
    MarkAsSpam(record, row, label);
}

int32_t CAnalysis::FindBodyRule(std::string text, CMailRecord* record, RuleList& list,
                                bool stripSeparators)
{
    if (stripSeparators) {
        // The search start comes from the text as it came, before stripping.
        const size_t status = text.find("Status:");
        RemoveSeparators(text, true);
        return SearchBody(text, status == std::string::npos ? 0 : status + 7, record, list, true);
    }
    return SearchPreparedBody(text, record, list, false);
}

int32_t CAnalysis::SearchPreparedBody(std::string_view text, CMailRecord* record, RuleList& list,
                                      bool stripSeparators)
{
    const size_t status = text.find("Status:");
    return SearchBody(text, status == std::string_view::npos ? 0 : status + 7, record, list, stripSeparators);
}

int32_t CAnalysis::SearchBody(std::string_view text, size_t start, CMailRecord* record, RuleList& list,
                              bool stripSeparators)
{
    if (list.empty())
        return -1;
    std::optional<CRuleMatcher> local;
    const CRuleMatcher& matcher = MatcherFor(local, list, CRuleMatcher::kBodySearch, stripSeparators);
    // The matcher compares the upper-case form of the text with the entries.
    size_t position = 0;
    const int32_t entry = matcher.FirstBodyMatch(text, start, &position);
    if (entry < 0)
        return -1;
    if (record) {
        record->m_strRuleText = matcher.SearchedEntry(entry);
        record->m_strFilterLabel = matcher.SearchedEntry(entry);
    }
    return static_cast<int32_t>(position);
}

const CRuleMatcher* CAnalysis::BodyMatcher(const RuleList& list, bool stripSeparators,
                                           std::optional<CRuleMatcher>& local)
{
    if (list.empty())
        return nullptr;
    return &MatcherFor(local, list, CRuleMatcher::kBodySearch, stripSeparators);
}
