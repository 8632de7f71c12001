// One reading of the rule file, compiled ahead of the analysis on whichever
// thread asks first. The compiled body lists are shared by every thread that
// prepares messages. The compiled header lists are handed over, once each, to
// the hub, whose header tests keep scratch state and run on its thread only.
#pragma once

#include "filter/BodyPasses.h"
#include "filter/RuleSet.h"

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

class CPreparedRules
{
public:
    // The lists of a rule file with this content.
    explicit CPreparedRules(std::string content);
    CPreparedRules(const CPreparedRules&) = delete;
    CPreparedRules& operator=(const CPreparedRules&) = delete;

    const std::string& Content() const { return m_strContent; }
    // True when `list` holds exactly the entries of the same list of this
    // reading, in the same order.
    bool SameList(ERuleList which, const RuleList& list) const;

    // Compiles every list the analysis searches (once; later calls wait for
    // the first to finish).
    void Compile() const;
    // The compiled body lists; compiles first.
    SBodyMatchers Matchers() const;
    // The compiled header test of a list, handed over once: null before
    // Compile has finished, after it was taken, and for an empty list.
    std::unique_ptr<CRuleMatcher> TakeHeaderMatcher(ERuleList which, bool stripSeparators) const;

    // The header tests of the analysis: (list, without separators).
    static constexpr std::array<std::pair<ERuleList, bool>, 8> kHeaderTests = {{
        {kRuleTrust, false},
        {kRuleRelay, false},
        {kRuleFrom, false},
        {kRuleRetPath, false},
        {kRuleTo, false},
        {kRuleCc, false},
        {kRuleSubject, false},
        {kRuleSubject, true},
    }};

private:
    std::string m_strContent;
    SRuleLists m_lists;
    mutable std::once_flag m_compileOnce;
    mutable std::atomic<bool> m_bCompiled{false};
    mutable std::optional<CRuleMatcher> m_html;
    mutable std::optional<CRuleMatcher> m_plain;
    mutable std::optional<CRuleMatcher> m_stripped;
    mutable std::mutex m_headerLock;
    mutable std::map<std::pair<ERuleList, bool>, std::unique_ptr<CRuleMatcher>> m_header;
};
