// The rule lists compiled for one analysis run. The lists cannot change while
// a run is under way, so each (list, kind of search) is compiled once, on
// first use, and kept until the run ends.
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

private:
    using Key = std::tuple<const RuleList*, CRuleMatcher::EMode, bool>;
    std::map<Key, std::unique_ptr<CRuleMatcher>> m_matchers;
};
