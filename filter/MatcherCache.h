// Compiled rule lists. The lists cannot change while an analysis run is under
// way, so each (list, kind of search) is compiled once, on first use. The
// hub keeps the compiled forms from one run to the next: at the start of a
// run, Revalidate drops those whose list no longer holds the entries they
// were compiled from, so an unchanged rule file is not compiled again.
#pragma once

#include "filter/RuleMatcher.h"

#include <map>
#include <memory>
#include <tuple>

class CMatcherCache
{
public:
    CRuleMatcher& Get(const RuleList& list, CRuleMatcher::EMode mode, bool stripSeparators)
    {
        const Key key{&list, mode, stripSeparators};
        auto it = m_matchers.find(key);
        // A list of another length than when it was compiled is compiled again.
        if (it == m_matchers.end() || it->second->EntryCount() != list.count())
            it = m_matchers.insert_or_assign(key, std::make_unique<CRuleMatcher>(list, mode, stripSeparators)).first;
        return *it->second;
    }

    // Takes a form compiled elsewhere from `list` as it stands, unless one is
    // there already.
    void Adopt(const RuleList& list, CRuleMatcher::EMode mode, bool stripSeparators,
               std::unique_ptr<CRuleMatcher> matcher)
    {
        if (matcher)
            m_matchers.try_emplace(Key{&list, mode, stripSeparators}, std::move(matcher));
    }
    bool Has(const RuleList& list, CRuleMatcher::EMode mode, bool stripSeparators) const
    {
        return m_matchers.count(Key{&list, mode, stripSeparators}) != 0;
    }

    // Drops every compiled form whose list changed since it was compiled.
    void Revalidate()
    {
        for (auto it = m_matchers.begin(); it != m_matchers.end();) {
            if (SameEntries(*std::get<0>(it->first), *it->second))
                ++it;
            else
                it = m_matchers.erase(it);
        }
    }

private:
    static bool SameEntries(const RuleList& list, const CRuleMatcher& matcher)
    {
        if (list.count() != matcher.EntryCount())
            return false;
        int32_t i = 0;
        for (const std::string* entry : list)
            if (*entry != matcher.Entry(i++))
                return false;
        return true;
    }

    using Key = std::tuple<const RuleList*, CRuleMatcher::EMode, bool>;
    std::map<Key, std::unique_ptr<CRuleMatcher>> m_matchers;
};
