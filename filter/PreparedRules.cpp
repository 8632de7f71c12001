#include "filter/PreparedRules.h"

CPreparedRules::CPreparedRules(std::string content) : m_strContent(std::move(content))
{
    ParseRuleFile(m_strContent, m_lists);
}

bool CPreparedRules::SameList(ERuleList which, const RuleList& list) const
{
    const RuleList& mine = m_lists.lists[static_cast<size_t>(which)];
    if (mine.count() != list.count())
        return false;
    auto other = list.begin();
    for (const std::string* entry : mine) {
        if (*entry != **other)
            return false;
        ++other;
    }
    return true;
}

void CPreparedRules::Compile() const
{
    std::call_once(m_compileOnce, [this] {
        const RuleList& html = m_lists.lists[kRuleBodyHtml];
        const RuleList& body = m_lists.lists[kRuleBody];
        if (!html.empty())
            m_html.emplace(html, CRuleMatcher::kBodySearch, false);
        if (!body.empty()) {
            m_plain.emplace(body, CRuleMatcher::kBodySearch, false);
            m_stripped.emplace(body, CRuleMatcher::kBodySearch, true);
        }
        std::lock_guard<std::mutex> lock(m_headerLock);
        for (const auto& [which, strip] : kHeaderTests) {
            const RuleList& list = m_lists.lists[static_cast<size_t>(which)];
            if (!list.empty())
                m_header[{which, strip}] = std::make_unique<CRuleMatcher>(list, CRuleMatcher::kHeaderTest, strip);
        }
        m_bCompiled = true;
    });
}

SBodyMatchers CPreparedRules::Matchers() const
{
    Compile();
    SBodyMatchers matchers;
    matchers.html = m_html ? &*m_html : nullptr;
    matchers.plain = m_plain ? &*m_plain : nullptr;
    matchers.stripped = m_stripped ? &*m_stripped : nullptr;
    return matchers;
}

std::unique_ptr<CRuleMatcher> CPreparedRules::TakeHeaderMatcher(ERuleList which, bool stripSeparators) const
{
    if (!m_bCompiled)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_headerLock);
    auto it = m_header.find({which, stripSeparators});
    if (it == m_header.end())
        return nullptr;
    std::unique_ptr<CRuleMatcher> matcher = std::move(it->second);
    m_header.erase(it);
    return matcher;
}
