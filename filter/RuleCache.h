// Every compiled form of the rule lists, in one place.
//
// The rule file is read and compiled ahead of the analysis: at start-up and
// whenever the file changes, a background thread compiles the new reading, so
// no message waits for it. That reading's body lists serve the threads that
// prepare messages and the analysis alike; its header lists are handed over,
// once each, to the lists of the run (below) when these hold the same entries.
//
// During an analysis run the rule set cannot change, so each of its lists is
// compiled once per kind of search, on first use unless a compiled form was
// taken over. The compiled forms are kept from one run to the next: at the
// start of a run those whose list no longer holds the entries they were
// compiled from are dropped, so an unchanged rule file is not compiled again.
#pragma once

#include "filter/BodyPasses.h"
#include "filter/RuleMatcher.h"
#include "filter/RuleSet.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

// One reading of the rule file, compiled on whichever thread asks first. The
// compiled header lists keep scratch state while they test, so they are
// handed over to one thread instead of being shared.
class CCompiledRuleFile
{
public:
    // The lists of a rule file with this content.
    explicit CCompiledRuleFile(std::string content);
    CCompiledRuleFile(const CCompiledRuleFile&) = delete;
    CCompiledRuleFile& operator=(const CCompiledRuleFile&) = delete;

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
    // The header test of a list on `text`, for any thread, with compiled
    // lists of its own (true when an entry matches; false for an empty list).
    bool HeaderMatches(ERuleList which, bool stripSeparators, std::string_view text) const;
    const SRuleLists& Lists() const { return m_lists; }

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
    mutable std::mutex m_sharedHeaderLock;
    mutable std::map<std::pair<ERuleList, bool>, std::unique_ptr<CRuleMatcher>> m_sharedHeader;
};

class CRuleCache
{
public:
    // The compiled forms of `rules`' lists; the set must outlive the cache.
    explicit CRuleCache(const CRuleSet& rules) : m_rules(rules) {}
    CRuleCache(const CRuleCache&) = delete;
    CRuleCache& operator=(const CRuleCache&) = delete;

    // ---- the rule file, read ahead ------------------------------------------------
    // Reads the rule file of the current directory again when it may have
    // changed; a content other than the last reading's becomes the new reading
    // and is handed to `compileAhead`. False when the file cannot be read.
    using CompileAhead = std::function<void(const std::shared_ptr<const CCompiledRuleFile>&)>;
    bool Refresh(const CompileAhead& compileAhead);
    // The last reading; null before the first and after a failed Refresh.
    const std::shared_ptr<const CCompiledRuleFile>& FileReading() const { return m_pFile; }
    // Forgets the reading, so that the next Refresh reads the file at once.
    void ForgetFileReading()
    {
        m_pFile.reset();
        m_strFileStamp.clear();
    }

    // ---- one analysis run -----------------------------------------------------------
    // A run begins, with the rule set freshly loaded: compiled forms of changed
    // lists are dropped, and the reading's compiled header lists taken over
    // where the set's list is the same and has none yet.
    void BeginRun();
    void EndRun();
    // During a run, the reading whose body lists equal the rule set's; null
    // when there is none, and outside a run.
    const CCompiledRuleFile* RunFile() const { return m_pRunFile; }
    // During a run, one of the rule set's lists compiled for `mode` (compiled
    // now when needed); null outside a run and for a list not of the set.
    CRuleMatcher* Find(const RuleList& list, CRuleMatcher::EMode mode, bool stripSeparators);

private:
    static bool SameEntries(const RuleList& list, const CRuleMatcher& matcher);

    const CRuleSet& m_rules;
    // The reading of the file, and what tells that the file may have changed
    // since: its path, size and change time.
    std::shared_ptr<const CCompiledRuleFile> m_pFile;
    std::string m_strFileStamp;
    std::chrono::steady_clock::time_point m_fileChecked;
    // The set's compiled lists, by (list, kind of search, without separators).
    using Key = std::tuple<ERuleList, CRuleMatcher::EMode, bool>;
    std::map<Key, std::unique_ptr<CRuleMatcher>> m_matchers;
    bool m_bInRun = false;
    const CCompiledRuleFile* m_pRunFile = nullptr;
};
