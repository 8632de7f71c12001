// The one cache of compiled rule lists: what a run finds in it, and when it
// compiles again.
#include "filter/RuleCache.h"

#include "base/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

void Fill(RuleList& list, std::initializer_list<const char*> entries)
{
    list.clear();
    for (const char* entry : entries)
        list.append(std::make_unique<std::string>(entry));
}

} // namespace

TEST(RuleCache, KeepsUnchangedListsBetweenRunsAndCompilesChangedOnesAgain)
{
    CCapturedLog log;
    CRuleSet rules(log);
    CRuleCache cache(rules);
    RuleList& from = rules.List(kRuleFrom);
    Fill(from, {"A@", "B@"});
    RuleList foreign;
    Fill(foreign, {"A@"});

    EXPECT_EQ(cache.Find(from, CRuleMatcher::kHeaderTest, false), nullptr); // no run
    cache.BeginRun();
    EXPECT_EQ(cache.Find(foreign, CRuleMatcher::kHeaderTest, false), nullptr); // not of the set
    const CRuleMatcher* first = cache.Find(from, CRuleMatcher::kHeaderTest, false);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(cache.Find(from, CRuleMatcher::kBodySearch, false), first); // one per kind of search
    EXPECT_EQ(cache.Find(from, CRuleMatcher::kHeaderTest, false), first);
    cache.EndRun();

    cache.BeginRun();
    EXPECT_EQ(cache.Find(from, CRuleMatcher::kHeaderTest, false), first); // unchanged: kept
    cache.EndRun();

    Fill(from, {"A@", "C@"}); // same length, another entry
    cache.BeginRun();
    const CRuleMatcher* again = cache.Find(from, CRuleMatcher::kHeaderTest, false);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Entry(1), "C@");
    cache.EndRun();
}

TEST(RuleCache, TakesOverTheFileReadingOnlyForEqualLists)
{
    const std::string previous = CurrentDirectory();
    char pattern[] = "/tmp/orvelane-cache-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    ASSERT_TRUE(SetCurrentDirectory(pattern));
    std::ofstream(std::string(pattern) + "/blacklist.txt", std::ios::binary)
        << "FROM:\r\nA@\r\nTO:\r\nT\r\nBODY:\r\nX\r\n";

    CCapturedLog log;
    CRuleSet rules(log);
    CRuleCache cache(rules);
    int compiled = 0;
    auto compileAhead = [&](const std::shared_ptr<const CCompiledRuleFile>& file) {
        file->Compile();
        ++compiled;
    };
    ASSERT_TRUE(cache.Refresh(compileAhead));
    ASSERT_TRUE(cache.Refresh(compileAhead)); // unchanged: not read nor compiled again
    EXPECT_EQ(compiled, 1);
    const std::shared_ptr<const CCompiledRuleFile> file = cache.FileReading();
    Fill(rules.List(kRuleFrom), {"A@"});
    Fill(rules.List(kRuleTo), {"U"});
    Fill(rules.List(kRuleBody), {"X"});

    cache.BeginRun();
    EXPECT_EQ(cache.RunFile(), file.get());                        // the body lists are the same
    EXPECT_EQ(file->TakeHeaderMatcher(kRuleFrom, false), nullptr); // taken over
    EXPECT_NE(file->TakeHeaderMatcher(kRuleTo, false), nullptr);   // another list: left there
    cache.EndRun();
    EXPECT_EQ(cache.RunFile(), nullptr);

    SetCurrentDirectory(previous);
    std::filesystem::remove_all(pattern);
}
