// Analysis prepared in the background while a scan downloads: the analysis
// must come out exactly as if it had done all the work itself, and anything
// prepared from other rules, another debug setting or another text must never
// be used.
#include "FilterFixture.h"

#include "decode/MailDecoder.h"
#include "filter/PrepareWorker.h"
#include "filter/RuleCache.h"
#include "filter/MessageHeader.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <memory>
#include <thread>

namespace {

// Messages that end in each of the four body passes, in none, in a header
// test or at a trusted sender, and some that make the decoders log; each
// gets a Subject line of its own in front.
const char* const kBodies[] = {
    "\r\n<b>cheap</b> pills\r\n",
    "\r\n<i>cheap</i>\r\n  pills\r\n",
    "\r\nc-h-e-a-p!\r\n",
    "\r\nw a t c c h h e s\r\n",
    "\r\nnothing to see\r\n",
    "Content-Transfer-Encoding: base64\r\n\r\nY2hlYXAgcGlsbHM=\r\n",
    "Content-Type: text/plain; charset=iso-8859-1\r\n\r\nw=E9tches =3D\r\n",
    "\r\n&eacute;t&eacute; &#65;\r\n",
    "From: Bad <bad@spam.example>\r\n\r\nhello\r\n",
    "From: friend@home.example\r\n\r\ncheap pills\r\n",
    "To: a@x, b@x, c@x\r\nCc: =?ISO-8859-1?Q?caf=E9?=\r\n\r\nhi\r\n",
    "Received: from evil.relay.example\r\n\r\nhi\r\n",
};
const char kRules[] = "BODYHTML:\r\n<b>cheap\r\nBODY:\r\ncheap pills\r\nc*heap\r\nwatches\r\n"
                      "FROM:\r\nbad@\r\nTRUST:\r\nfriend@home\r\nRELAY:\r\nevil.relay\r\n"
                      "SUBJECT:\r\nfree money\r\n";

struct Outcome {
    std::vector<std::string> log;
    std::vector<std::string> texts;
    std::vector<std::string> labels;
};

void ExpectSame(const Outcome& actual, const Outcome& expected)
{
    EXPECT_EQ(actual.log, expected.log);
    EXPECT_EQ(actual.texts, expected.texts);
    EXPECT_EQ(actual.labels, expected.labels);
}

} // namespace

class PreparedAnalysisTest : public FilterFixture
{
protected:
    OwnedList<CMailRecord> records;
    std::string m_server, m_user;

    void AddAll()
    {
        int n = 0;
        for (const char* body : kBodies) {
            auto record = std::make_unique<CMailRecord>();
            record->m_pszText = "Subject: m" + std::to_string(++n) + "\r\n" + body;
            record->m_nSize = static_cast<int32_t>(record->m_pszText.size());
            records.append(std::move(record));
        }
    }
    void PrepareAll()
    {
        for (CMailRecord* record : records)
            analysis.PrepareAnalysis(record);
    }
    // Waits until the background threads ran `count` jobs.
    void AwaitBackground(int64_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (analysis.Worker()->RunInBackground() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(analysis.Worker()->RunInBackground(), count);
    }
    Outcome Analyse()
    {
        analysis.AnalyseMessages(records, m_server, m_user);
        Outcome outcome;
        outcome.log = LogLines();
        for (CMailRecord* record : records) {
            outcome.texts.push_back(record->m_pszText);
            outcome.labels.push_back(record->m_strSpamType + "|" + record->m_strFilterLabel + "|" +
                                     record->m_strRuleText);
            EXPECT_EQ(record->m_pPrepareJob, nullptr); // nothing is held after the run
        }
        return outcome;
    }
    // The same messages analysed by an analysis that prepares nothing
    // (before this one tags them).
    Outcome Unprepared(bool debug)
    {
        CFilterParts plain;
        plain.analysis.SetDebug(debug);
        plain.analysis.SetPrepareAhead(false);
        OwnedList<CMailRecord> other;
        for (CMailRecord* record : records) {
            auto copy = std::make_unique<CMailRecord>();
            copy->m_pszText = record->m_pszText;
            copy->m_nSize = record->m_nSize;
            other.append(std::move(copy));
        }
        plain.analysis.AnalyseMessages(other, m_server, m_user);
        Outcome outcome;
        outcome.log = plain.log.Lines();
        for (CMailRecord* record : other) {
            outcome.texts.push_back(record->m_pszText);
            outcome.labels.push_back(record->m_strSpamType + "|" + record->m_strFilterLabel + "|" +
                                     record->m_strRuleText);
            EXPECT_EQ(record->m_pPrepareJob, nullptr); // nothing was prepared
        }
        return outcome;
    }
};

TEST_F(PreparedAnalysisTest, VerdictsFromTheBackgroundGiveTheSameAnalysis)
{
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug ? "debug" : "quiet");
        WriteRules(kRules);
        analysis.SetDebug(debug);
        log.Clear();
        records.clear();
        AddAll();
        const int64_t before = analysis.Worker() ? analysis.Worker()->RunInBackground() : 0;
        PrepareAll();
        AwaitBackground(before + static_cast<int64_t>(std::size(kBodies)));
        const Outcome expected = Unprepared(debug);
        const Outcome prepared = Analyse();
        ExpectSame(prepared, expected);
        EXPECT_NE(prepared.labels[2].find("CHEAP"), std::string::npos); // the passes did find something
    }
}

TEST_F(PreparedAnalysisTest, CollectingBeforeTheBackgroundIsDoneGivesTheSameAnalysis)
{
    WriteRules(kRules);
    for (int i = 0; i < 40; ++i)
        AddAll();
    PrepareAll();
    const Outcome expected = Unprepared(false);
    ExpectSame(Analyse(), expected); // some verdicts waited for, some run here
}

TEST_F(PreparedAnalysisTest, AVerdictOfOtherRulesIsNotUsed)
{
    // Same length, so the file's size does not tell the change.
    WriteRules("BODY:\r\nnothing\r\n");
    AddAll();
    PrepareAll();
    AwaitBackground(static_cast<int64_t>(std::size(kBodies)));
    WriteRules("BODY:\r\nto see!\r\n");
    const Outcome expected = Unprepared(false);
    const Outcome outcome = Analyse();
    ExpectSame(outcome, expected);
    EXPECT_EQ(outcome.labels[4],
              "Body|no HTML and no separate char and convertion char ( '`.,;^!%?*$) @0\xE9\xE8\xE0|TOSEE");
}

TEST_F(PreparedAnalysisTest, CompiledHeaderListsAreTakenOverOnlyWhenUnchanged)
{
    WriteRules(kRules);
    AddAll();
    PrepareAll();
    AwaitBackground(static_cast<int64_t>(std::size(kBodies)));
    const Outcome expected = Unprepared(false);
    ExpectSame(Analyse(), expected);
    // The run took the background's compiled From list instead of its own.
    EXPECT_EQ(analysis.Cache().FileReading()->TakeHeaderMatcher(kRuleFrom, false), nullptr);

    // A From list of the same length but other entries: the background's
    // compiled form must not be taken over.
    WriteRules("FROM:\r\nbad@\r\n");
    records.clear();
    log.Clear();
    analysis.Cache().ForgetFileReading(); // read the file again at once, not within the quarter second
    AddAll();
    PrepareAll();
    AwaitBackground(2 * static_cast<int64_t>(std::size(kBodies)));
    WriteRules("FROM:\r\nhome\r\n");
    const Outcome expectedLater = Unprepared(false);
    const Outcome outcome = Analyse();
    ExpectSame(outcome, expectedLater);
    EXPECT_EQ(outcome.labels[9], "From|String search|HOME");
    EXPECT_EQ(outcome.labels[8], "||");
}

TEST_F(PreparedAnalysisTest, AVerdictOfAnotherDebugSettingIsNotUsed)
{
    WriteRules(kRules);
    AddAll();
    PrepareAll();
    AwaitBackground(static_cast<int64_t>(std::size(kBodies)));
    analysis.SetDebug(true);
    const Outcome expected = Unprepared(true);
    ExpectSame(Analyse(), expected);
}

TEST_F(PreparedAnalysisTest, AVerdictOfAnotherTextIsNotUsed)
{
    WriteRules(kRules);
    AddAll();
    PrepareAll();
    AwaitBackground(static_cast<int64_t>(std::size(kBodies)));
    CMailRecord* last = records.tail();
    last->m_pszText = "Subject: x\r\n\r\ncheap pills\r\n";
    const Outcome expected = Unprepared(false);
    const Outcome outcome = Analyse();
    ExpectSame(outcome, expected);
    EXPECT_EQ(outcome.labels.back(), "Body|no HTML|CHEAP PILLS");
}

TEST_F(PreparedAnalysisTest, NothingIsPreparedWhenAnalysisCannotUseIt)
{
    WriteRules(kRules);
    AddAll();
    CMailRecord* first = records.head();
    settings.m_nMaxMsgSize = first->m_nSize; // too large for the body passes
    analysis.PrepareAnalysis(first);
    EXPECT_EQ(first->m_pPrepareJob, nullptr);
    settings.m_nMaxMsgSize = 1 << 30;
    analysis.SetPrepareAhead(false);
    analysis.PrepareAnalysis(first);
    EXPECT_EQ(first->m_pPrepareJob, nullptr);
    analysis.SetPrepareAhead(true);
    std::filesystem::remove(m_folder + "/blacklist.txt");
    analysis.PrepareAnalysis(first);
    EXPECT_EQ(first->m_pPrepareJob, nullptr);
}

// The worker on its own: results equal to doing the work directly,
// whether a thread or the collector ran them, and dropped jobs are skipped
// without holding up the worker's end.
TEST(PrepareWorker, ResultsAndDroppedJobs)
{
    auto rules = std::make_shared<const CCompiledRuleFile>(kRules);
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i)
        texts.push_back("Subject: =?ISO-8859-1?Q?s=E9?=\r\n" + std::string(kBodies[i % std::size(kBodies)]) +
                        std::to_string(i));
    {
        CPrepareWorker worker(2);
        std::vector<std::shared_ptr<CPrepareJob>> jobs;
        for (const std::string& text : texts)
            jobs.push_back(worker.Submit(WithStatusLine(text), rules, false));
        for (size_t i = 0; i < jobs.size(); ++i) {
            const std::string analysisText = WithStatusLine(texts[i]);
            const SBodyVerdict direct = RunBodyPasses(analysisText, rules->Matchers(), false);
            CCapturedLog headerLog;
            CMailDecoder decoder;
            decoder.SetLog(&headerLog);
            const CHeaderFields fields = ReadHeaderFields(analysisText, decoder);
            const SPreparedAnalysis collected = worker.Collect(*jobs[i]);
            ASSERT_EQ(collected.analysisText, analysisText) << i;
            ASSERT_EQ(collected.fields.m_strSubject, fields.m_strSubject) << i;
            ASSERT_EQ(collected.fields.m_strFrom, fields.m_strFrom) << i;
            ASSERT_EQ(collected.fields.m_strRelays, fields.m_strRelays) << i;
            ASSERT_EQ(collected.headerLog, headerLog) << i;
            ASSERT_EQ(collected.body.position, direct.position) << i;
            ASSERT_EQ(collected.body.label, direct.label) << i;
            ASSERT_EQ(collected.body.ruleText, direct.ruleText) << i;
            ASSERT_EQ(collected.body.log, direct.log) << i;
        }
    }
    // Dropped at once: the worker skips what it can and ends with the rest
    // still queued.
    CPrepareWorker worker(1);
    for (int round = 0; round < 50; ++round)
        for (const std::string& text : texts)
            worker.Submit(text + std::string(10000, 'x'), rules, false);
    EXPECT_LT(worker.RunInBackground(), 50 * static_cast<int64_t>(texts.size()));
}

// The check that a prepared analysis text belongs to a stored text: it must
// say yes exactly for the text WithStatusLine makes, and no after any change
// to either side, on texts with and without a header end, a Status line of
// their own, zero bytes and bare LFs.
TEST(PrepareWorker, AnalysisTextBelongsOnlyToItsOwnText)
{
    const std::vector<std::string> pieces = {"Subject: a\r\n", "Status: R\r\n", "\r\n", "\n", "body ", "x",
                                             std::string(1, '\0'), "Status:", "\r"};
    std::mt19937 random(29);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const int count = std::uniform_int_distribution<int>(0, 8)(random);
        for (int i = 0; i < count; ++i)
            text += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
        const std::string analysis = WithStatusLine(text);
        ASSERT_TRUE(IsWithStatusLine(analysis, text)) << text;
        if (!analysis.empty()) {
            std::string changed = analysis;
            const size_t at = std::uniform_int_distribution<size_t>(0, changed.size() - 1)(random);
            changed[at] = changed[at] == 'q' ? 'Q' : 'q';
            ASSERT_FALSE(IsWithStatusLine(changed, text)) << text;
            ASSERT_FALSE(IsWithStatusLine(analysis + "q", text)) << text;
            ASSERT_FALSE(IsWithStatusLine(analysis.substr(1), text)) << text;
        }
        const std::string longer = text + "q";
        if (WithStatusLine(longer) != analysis) {
            ASSERT_FALSE(IsWithStatusLine(analysis, longer)) << text;
        }
    }
}

// Rules handed over ahead of any job are compiled by the background thread
// on its own; a worker that ends first drops them without harm.
TEST(PrepareWorker, CompilesRulesAhead)
{
    auto rules = std::make_shared<const CCompiledRuleFile>(kRules);
    {
        CPrepareWorker worker(1);
        worker.CompileAhead(rules);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::unique_ptr<CRuleMatcher> from;
        while (!(from = rules->TakeHeaderMatcher(kRuleFrom, false)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_NE(from, nullptr);
        EXPECT_EQ(from->Entry(0), "BAD@");
        EXPECT_EQ(worker.RunInBackground(), 0); // no job was run for it
    }
    CPrepareWorker stopping(1);
    for (int i = 0; i < 20; ++i)
        stopping.CompileAhead(std::make_shared<const CCompiledRuleFile>(kRules));
}

// While the job it needs is under way on the background thread, the collector
// runs the jobs queued after it instead of waiting idle.
TEST(PrepareWorker, TheCollectorRunsTheQueuedJobsWhileItsOwnIsUnderWay)
{
    CPrepareWorker worker(1);
    std::mutex mutex;
    std::condition_variable changed;
    bool firstBegun = false, releaseFirst = false;
    std::vector<std::thread::id> ranOn;
    auto first = worker.Submit("Subject: first\r\n\r\n", nullptr, false, [&](const SPreparedAnalysis&) {
        std::unique_lock<std::mutex> lock(mutex);
        firstBegun = true;
        changed.notify_all();
        // Held until the others ran, or long enough to tell that they did not.
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return releaseFirst; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return firstBegun; }));
    }
    std::vector<std::shared_ptr<CPrepareJob>> later;
    for (int i = 0; i < 2; ++i)
        later.push_back(worker.Submit("Subject: later\r\n\r\n", nullptr, false, [&](const SPreparedAnalysis&) {
            std::lock_guard<std::mutex> lock(mutex);
            ranOn.push_back(std::this_thread::get_id());
            releaseFirst = ranOn.size() == 2;
            changed.notify_all();
        }));
    EXPECT_EQ(worker.Collect(*first).fields.m_strSubject, " first");
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(ranOn, std::vector<std::thread::id>(2, std::this_thread::get_id()));
}
