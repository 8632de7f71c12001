#include "filter/BodyRules.h"

namespace {

bool SameEntries(const RuleList& a, const RuleList& b)
{
    if (a.count() != b.count())
        return false;
    auto other = b.begin();
    for (const std::string* entry : a) {
        if (*entry != **other)
            return false;
        ++other;
    }
    return true;
}

} // namespace

CBodyRules::CBodyRules(std::string content) : m_strContent(std::move(content))
{
    CRuleSetRef rules;
    rules.lists[kRuleBodyHtml] = &m_bodyHtml;
    rules.lists[kRuleBody] = &m_body;
    ParseRuleFile(m_strContent, rules);
}

bool CBodyRules::Matches(const RuleList& bodyHtml, const RuleList& body) const
{
    return SameEntries(bodyHtml, m_bodyHtml) && SameEntries(body, m_body);
}

SBodyMatchers CBodyRules::Matchers() const
{
    std::call_once(m_compiled, [this] {
        if (!m_bodyHtml.empty())
            m_html.emplace(m_bodyHtml, CRuleMatcher::kBodySearch, false);
        if (!m_body.empty()) {
            m_plain.emplace(m_body, CRuleMatcher::kBodySearch, false);
            m_stripped.emplace(m_body, CRuleMatcher::kBodySearch, true);
        }
    });
    SBodyMatchers matchers;
    matchers.html = m_html ? &*m_html : nullptr;
    matchers.plain = m_plain ? &*m_plain : nullptr;
    matchers.stripped = m_stripped ? &*m_stripped : nullptr;
    return matchers;
}
