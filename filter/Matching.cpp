// The hub's rule matching: the header test, which marks, and the body search,
// which only reports. Both go through rule lists compiled into automata (see
// RuleMatcher.h), so a text is scanned once whatever the number of rules.
#include "shell/MainDialog.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <algorithm>
#include <optional>

namespace {

// The compiled form of `list`: from the run's cache when the list is one of
// the hub's own (the cache outlives the run and must only name lists that
// live as long as the hub), or built for this call.
CRuleMatcher& MatcherFor(CMainDialog& hub, std::optional<CRuleMatcher>& local, const RuleList& list,
                         CRuleMatcher::EMode mode, bool strip)
{
    if (CRuleMatcher* cached = hub.m_ruleCache.Find(list, mode, strip))
        return *cached;
    local.emplace(list, mode, strip);
    return *local;
}

} // namespace

void CMainDialog::RemoveSeparators(std::string& text, bool alsoSpaces)
{
    RemoveSeparatorsInPlace(text, alsoSpaces);
}

void CMainDialog::MatchHeaderRules(CMailRecord* record, std::string text, RuleList& list,
                                   const std::string& label, int32_t row, bool stripSeparators)
{
    if (!record || record->m_bSpam || list.empty())
        return;
    if (stripSeparators)
        RemoveSeparators(text, true);
    std::optional<CRuleMatcher> local;
    CRuleMatcher& matcher = MatcherFor(*this, local, list,
                                       CRuleMatcher::kHeaderTest, stripSeparators);
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

int32_t CMainDialog::FindBodyRule(std::string text, CMailRecord* record, RuleList& list,
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

int32_t CMainDialog::SearchPreparedBody(std::string_view text, CMailRecord* record, RuleList& list,
                                        bool stripSeparators)
{
    const size_t status = text.find("Status:");
    return SearchBody(text, status == std::string_view::npos ? 0 : status + 7, record, list, stripSeparators);
}

int32_t CMainDialog::SearchBody(std::string_view text, size_t start, CMailRecord* record, RuleList& list,
                                bool stripSeparators)
{
    if (list.empty())
        return -1;
    std::optional<CRuleMatcher> local;
    const CRuleMatcher& matcher = MatcherFor(*this, local, list,
                                             CRuleMatcher::kBodySearch, stripSeparators);
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

const CRuleMatcher* CMainDialog::BodyMatcher(const RuleList& list, bool stripSeparators,
                                             std::optional<CRuleMatcher>& local)
{
    if (list.empty())
        return nullptr;
    return &MatcherFor(*this, local, list, CRuleMatcher::kBodySearch, stripSeparators);
}
