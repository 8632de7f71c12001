// Rule matching: the header test, the body search and separator removal, and
// the compiled matcher checked against a plain walk over the entries.
#include "FilterFixture.h"
#include "support/ByteLoops.h"

#include "filter/RuleMatcher.h"
#include "base/Win1252.h"

#include <random>

namespace {

std::unique_ptr<RuleList> MakeList(const std::vector<std::string>& entries)
{
    auto list = std::make_unique<RuleList>();
    for (const std::string& e : entries)
        list->append(std::make_unique<std::string>(e));
    return list;
}

// ---- the plain reference: one entry at a time, in list order --------------------

std::string Stripped(std::string text)
{
    std::string out;
    for (unsigned char c : text)
        if (std::string_view("`.';^!%?*$#~/\\+=()[]<>-&_,").find(static_cast<char>(c)) == std::string_view::npos &&
            c != 0xB0 && c != 0xA7 && c != ' ')
            out.push_back(static_cast<char>(c));
    return out;
}

int32_t ReferenceHeaderMatch(std::string text, const std::vector<std::string>& entries, bool strip)
{
    if (strip)
        text = Stripped(text);
    for (size_t e = 0; e < entries.size(); ++e) {
        std::string entry = strip ? Stripped(entries[e]) : entries[e];
        bool match = true;
        if (entry.find('*') != std::string::npos) {
            size_t start = 0;
            while (start <= entry.size()) {
                size_t star = entry.find('*', start);
                if (star == std::string::npos)
                    star = entry.size();
                if (star > start && text.find(entry.substr(start, star - start)) == std::string::npos)
                    match = false;
                start = star + 1;
            }
        } else {
            match = text.find(entry) != std::string::npos;
        }
        if (match)
            return static_cast<int32_t>(e);
    }
    return -1;
}

// The body search compares the upper-case text with the entries as they are.
int32_t ReferenceBodyMatch(const std::string& text, size_t start, const std::vector<std::string>& entries,
                           bool strip, size_t* position)
{
    const std::string upper = w1252::Upper(text);
    for (size_t e = 0; e < entries.size(); ++e) {
        const std::string entry = strip ? Stripped(entries[e]) : entries[e];
        const size_t at = upper.find(entry, start);
        if (at != std::string::npos) {
            *position = at;
            return static_cast<int32_t>(e);
        }
    }
    return -1;
}

// Random texts and rules over a small alphabet, so that matches, overlaps,
// shared prefixes, stars and separators are frequent.
std::string RandomText(std::mt19937& rng, size_t maxLength, std::string_view alphabet)
{
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string out(length(rng), ' ');
    for (char& c : out)
        c = alphabet[pick(rng)];
    return out;
}

constexpr std::string_view kAlphabet = "ABCABab*.- \xB0\xC9\xE9";

} // namespace

TEST(RemoveSeparators, RemovesTheTwentyEightAndSpacesOnRequest)
{
    std::string all = "`.';^!%?*$#~/\\+=()\xB0[]\xA7<>-&_,";
    ASSERT_EQ(all.size(), 28u);
    std::string text = "a" + all + " b:@\"{}|\t\r\n";
    std::string copy = text;
    RemoveSeparatorsInPlace(text, false);
    EXPECT_EQ(text, "a b:@\"{}|\t\r\n");
    RemoveSeparatorsInPlace(copy, true);
    EXPECT_EQ(copy, "ab:@\"{}|\t\r\n");

    // Every byte value, in blocks long enough for the 16-byte path.
    WithEachByteLoop([] {
        for (const bool spaces : {false, true}) {
            std::string bytes, kept;
            for (int round = 0; round < 3; ++round)
                for (int c = 0; c < 256; ++c) {
                    const auto byte = static_cast<unsigned char>((c * 37 + round) & 0xFF);
                    bytes.push_back(static_cast<char>(byte));
                    if (!IsSeparator(byte, spaces))
                        kept.push_back(static_cast<char>(byte));
                }
            RemoveSeparatorsInPlace(bytes, spaces);
            EXPECT_EQ(bytes, kept) << spaces;
        }
    });
}

class HeaderTestTest : public FilterFixture
{
protected:
    CMailRecord record;
    void Match(const std::string& text, const std::vector<std::string>& entries, const std::string& label,
               bool strip = false)
    {
        auto list = MakeList(entries);
        analysis.MatchHeaderRules(&record, text, *list, label, 0, strip);
    }
};

TEST_F(HeaderTestTest, StarAloneMatchesEvenAnEmptyHeader)
{
    record.m_pszText = "Subject: hi\r\n";
    Match("", {"NOPE", "*"}, "To");
    EXPECT_TRUE(record.m_bSpam);
    EXPECT_EQ(record.m_strRuleText, "*");
    EXPECT_EQ(record.m_strFilterLabel, "String search");
    EXPECT_EQ(record.m_strSpamType, "To");
}

TEST_F(HeaderTestTest, PartsMatchInAnyOrderAndMayOverlap)
{
    record.m_pszText = "Subject: x\r\n";
    Match("XXABCXX", {"AB*BC"}, "From");
    EXPECT_TRUE(record.m_bSpam);
    CMailRecord other;
    other.m_pszText = "Subject: x\r\n";
    auto list = MakeList({"BC*AB*", "ZZ*AB"});
    analysis.MatchHeaderRules(&other, "AB BC", *list, "From", 0, false);
    EXPECT_EQ(other.m_strRuleText, "BC*AB*");
}

TEST_F(HeaderTestTest, SubstringOfALongerAddressAndFirstEntryWins)
{
    record.m_pszText = "Subject: x\r\n";
    Match("JOE@MAIL.SPAMMER.COM", {"NOTHERE", "SPAMMER.COM", "JOE"}, "From");
    EXPECT_EQ(record.m_strRuleText, "SPAMMER.COM");
}

TEST_F(HeaderTestTest, StrippingMakesSeparatorOnlyEntriesMatchAnything)
{
    record.m_pszText = "Subject: x\r\n";
    Match("PLAIN", {"Q", "-.-"}, "Subject", true);
    EXPECT_EQ(record.m_strRuleText, "-.-"); // as stored, not stripped
    CMailRecord other;
    other.m_pszText = "Subject: x\r\n";
    auto list = MakeList({"V*I*A"});
    analysis.MatchHeaderRules(&other, "V.I.A", *list, "Subject", 0, true); // "VIA" in "VIA"
    EXPECT_TRUE(other.m_bSpam);
}

TEST_F(HeaderTestTest, TrustSetsOnlyTheFlag)
{
    record.m_pszText = "Subject: x\r\n";
    Match("FRIEND@HOME", {"FRIEND"}, "Trust");
    EXPECT_TRUE(record.m_bTrusted);
    EXPECT_FALSE(record.m_bSpam);
    EXPECT_TRUE(record.m_strRuleText.empty());
    EXPECT_EQ(record.m_pszText, "Subject: x\r\n");
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(HeaderTestTest, AlreadySpamReturnsAtOnce)
{
    record.m_pszText = "Subject: x\r\n";
    record.m_bSpam = true;
    Match("ANY", {"*"}, "From");
    EXPECT_TRUE(record.m_strRuleText.empty());
    EXPECT_TRUE(record.m_strSpamType.empty());
}

class BodySearchTest : public FilterFixture
{
protected:
    CMailRecord record;
    int32_t Find(const std::string& text, const std::vector<std::string>& entries, bool strip)
    {
        auto list = MakeList(entries);
        return analysis.FindBodyRule(text, &record, *list, strip);
    }
};

TEST_F(BodySearchTest, StartsAfterTheStatusLineAndUpperCases)
{
    const std::string text = "Subject: cheap pills\r\nStatus: \r\n\r\nbuy cheap pills";
    EXPECT_EQ(Find(text, {"SUBJECT"}, false), -1);   // only before Status:
    EXPECT_EQ(Find(text, {"CHEAP PILLS"}, false), 38); // the body's occurrence
    EXPECT_EQ(record.m_strRuleText, "CHEAP PILLS");
    EXPECT_EQ(record.m_strFilterLabel, "CHEAP PILLS");
    EXPECT_EQ(Find("Subject: x\r\n\r\nbody", {"SUBJECT"}, false), 0); // no Status: from byte 0
}

TEST_F(BodySearchTest, FirstEntryInListOrderWinsNotFirstPosition)
{
    EXPECT_EQ(Find("AAA BBB", {"ZZZ", "BBB", "AAA"}, false), 4);
    EXPECT_EQ(record.m_strRuleText, "BBB");
}

TEST_F(BodySearchTest, StarIsLiteralUnlessStripped)
{
    EXPECT_EQ(Find("FREE MONEY", {"FREE*MONEY"}, false), -1);
    EXPECT_EQ(Find("FREE*MONEY", {"FREE*MONEY"}, false), 0);
    EXPECT_EQ(Find("FREEMONEY", {"FREE*MONEY"}, true), 0);
    EXPECT_EQ(record.m_strRuleText, "FREEMONEY"); // the stripped copy
}

TEST_F(BodySearchTest, NoMatchLeavesTheRecord)
{
    EXPECT_EQ(Find("nothing here", {"ELSE"}, false), -1);
    EXPECT_TRUE(record.m_strRuleText.empty());
    EXPECT_EQ(Find("nothing here", {}, false), -1);
}

// ---- the compiled matcher against the reference --------------------------------------

TEST(CompiledMatcher, AgreesWithThePlainWalkOnRandomRulesAndTexts)
{
    std::mt19937 rng(20261207);
    int plain = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<std::string> entries;
        const int count = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < count; ++i) {
            std::string e = RandomText(rng, 5, kAlphabet);
            if (e.empty())
                e = "A";
            entries.push_back(e);
        }
        auto list = MakeList(entries);
        // Every fourth round the lists are too large for the tiny table limit
        // and are searched entry by entry.
        const size_t limit = round % 4 == 3 ? 8 : CPatternAutomaton::kMaxCells;
        for (bool strip : {false, true}) {
            CRuleMatcher header(*list, CRuleMatcher::kHeaderTest, strip, limit);
            CRuleMatcher body(*list, CRuleMatcher::kBodySearch, strip, limit);
            plain += header.IsCompiled() ? 0 : 1;
            for (int t = 0; t < 20; ++t) {
                std::string text = RandomText(rng, 60, kAlphabet);
                std::string headerText = strip ? Stripped(text) : text;
                ASSERT_EQ(header.FirstHeaderMatch(headerText), ReferenceHeaderMatch(text, entries, strip))
                    << "text [" << text << "] round " << round;
                const size_t start = rng() % (text.size() + 2);
                size_t fast = 0, slow = 0;
                const int32_t expected = ReferenceBodyMatch(text, start, entries, strip, &slow);
                ASSERT_EQ(body.FirstBodyMatch(text, start, &fast), expected)
                    << "text [" << text << "] start " << start << " round " << round;
                if (expected >= 0) {
                    ASSERT_EQ(fast, slow);
                }
            }
        }
    }
    EXPECT_GT(plain, 50);
}

TEST(CompiledMatcher, ManyRulesWithSharedPrefixesAndSuffixes)
{
    std::vector<std::string> entries;
    for (int i = 0; i < 3000; ++i)
        entries.push_back("W" + std::to_string(i * 7919 % 10007) + "X");
    entries.push_back("W1");
    auto list = MakeList(entries);
    CRuleMatcher body(*list, CRuleMatcher::kBodySearch, false);
    std::mt19937 rng(7);
    for (int t = 0; t < 200; ++t) {
        std::string text;
        for (int k = 0; k < 40; ++k)
            text += "W" + std::to_string(rng() % 12000) + (rng() % 3 ? "X" : "Y");
        size_t fast = 0, slow = 0;
        const int32_t expected = ReferenceBodyMatch(text, 0, entries, false, &slow);
        ASSERT_EQ(body.FirstBodyMatch(text, 0, &fast), expected) << text;
        if (expected >= 0) {
            ASSERT_EQ(fast, slow);
        }
    }
}

TEST(CompiledMatcher, LongTextsScannedInStretchesGiveTheSameAnswer)
{
    // Texts long enough to be cut into stretches (every other one short
    // enough for one, two or four), entries up to 40 bytes long so that
    // matches straddle the cuts, and search starts anywhere.
    std::mt19937 rng(31337);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> entries;
        const int count = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i) {
            std::string e = RandomText(rng, rng() % 4 == 0 ? 40 : 4, "ABab");
            entries.push_back(e.empty() ? "AB" : w1252::Upper(e));
        }
        auto list = MakeList(entries);
        CRuleMatcher body(*list, CRuleMatcher::kBodySearch, false);
        for (int t = 0; t < 5; ++t) {
            std::string text = RandomText(rng, t % 2 ? 6000 : 400, "ABbaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab");
            // Plant an entry somewhere so that late and straddling matches occur.
            if (!text.empty()) {
                const std::string& planted = entries[rng() % entries.size()];
                text.insert(rng() % text.size(), planted);
            }
            const size_t start = rng() % (text.size() + 1);
            size_t fast = 0, slow = 0;
            const int32_t expected = ReferenceBodyMatch(text, start, entries, false, &slow);
            ASSERT_EQ(body.FirstBodyMatch(text, start, &fast), expected) << "round " << round;
            if (expected >= 0) {
                ASSERT_EQ(fast, slow) << "round " << round;
            }
        }
    }
}

TEST_F(HeaderTestTest, HubUsesCompiledListsThatFollowTheReference)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 100; ++round) {
        std::vector<std::string> entries;
        for (int i = 0; i < 10; ++i) {
            std::string e = RandomText(rng, 4, kAlphabet);
            entries.push_back(e.empty() ? "B" : e);
        }
        const std::string text = RandomText(rng, 30, kAlphabet);
        for (bool strip : {false, true}) {
            CMailRecord r;
            r.m_pszText = "Subject: x\r\n";
            auto list = MakeList(entries);
            analysis.MatchHeaderRules(&r, text, *list, "From", 0, strip);
            const int32_t expected = ReferenceHeaderMatch(text, entries, strip);
            ASSERT_EQ(r.m_bSpam, expected >= 0);
            if (expected >= 0) {
                ASSERT_EQ(r.m_strRuleText, entries[static_cast<size_t>(expected)]);
            }
        }
    }
}

TEST(CompiledMatcher, LongHeadersScannedInStretchesFindEveryPart)
{
    // Header tests collect parts from stretches scanned side by side (one,
    // two or four by the text's length): parts up to 40 bytes long, planted
    // so that some straddle the cuts.
    std::mt19937 rng(4711);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> entries;
        const int count = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i) {
            std::string e = RandomText(rng, rng() % 4 == 0 ? 40 : 4, "ABa");
            if (rng() % 2)
                e += "*" + RandomText(rng, 6, "AB");
            entries.push_back(e.empty() ? "AB" : e);
        }
        auto list = MakeList(entries);
        CRuleMatcher header(*list, CRuleMatcher::kHeaderTest, false);
        for (int t = 0; t < 5; ++t) {
            std::string text = RandomText(rng, t % 2 ? 6000 : 400, "ABaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab");
            for (int k = 0; k < 3 && !text.empty(); ++k) {
                const std::string& planted = entries[rng() % entries.size()];
                text.insert(rng() % text.size(), planted.substr(0, planted.find('*')));
            }
            ASSERT_EQ(header.FirstHeaderMatch(text), ReferenceHeaderMatch(text, entries, false)) << "round " << round;
        }
    }
}
