// One reading of the rule file, kept for the body passes: its BODYHTML and
// BODY lists, compiled once on first use from whichever thread asks first and
// never changed afterwards, so any number of threads may search with them.
#pragma once

#include "filter/BodyPasses.h"
#include "filter/RuleSet.h"

#include <mutex>
#include <optional>
#include <string>

class CBodyRules
{
public:
    // The body lists of a rule file with this content.
    explicit CBodyRules(std::string content);
    CBodyRules(const CBodyRules&) = delete;
    CBodyRules& operator=(const CBodyRules&) = delete;

    const std::string& Content() const { return m_strContent; }
    // True when the two lists hold exactly the entries of this reading, in
    // the same order.
    bool Matches(const RuleList& bodyHtml, const RuleList& body) const;
    SBodyMatchers Matchers() const;

private:
    std::string m_strContent;
    RuleList m_bodyHtml;
    RuleList m_body;
    mutable std::once_flag m_compiled;
    mutable std::optional<CRuleMatcher> m_html;
    mutable std::optional<CRuleMatcher> m_plain;
    mutable std::optional<CRuleMatcher> m_stripped;
};
