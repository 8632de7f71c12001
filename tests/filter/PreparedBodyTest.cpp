// Body verdicts prepared in the background while a scan downloads: the
// analysis must come out exactly as if it had run every pass itself, and a
// verdict made with other rules, another debug setting or another text must
// never be used.
#include "FilterFixture.h"

#include "filter/BodyRules.h"
#include "filter/BodyWorker.h"
#include "filter/MessageHeader.h"

#include <chrono>
#include <memory>
#include <thread>

namespace {

// Messages that end in each of the four passes, in none, and some that make
// the decoders log.
const char* const kBodies[] = {
    "<b>cheap</b> pills\r\n",
    "<i>cheap</i>\r\n  pills\r\n",
    "c-h-e-a-p!\r\n",
    "w a t c c h h e s\r\n",
    "nothing to see\r\n",
    "Content-Transfer-Encoding: base64\r\n\r\nY2hlYXAgcGlsbHM=\r\n",
    "Content-Type: text/plain; charset=iso-8859-1\r\n\r\nw=E9tches =3D\r\n",
    "&eacute;t&eacute; &#65;\r\n",
};
const char kRules[] = "BODYHTML:\r\n<b>cheap\r\nBODY:\r\ncheap pills\r\nc*heap\r\nwatches\r\n";

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

class PreparedBodyTest : public FilterFixture
{
protected:
    CSession session;

    void AddAll()
    {
        int n = 0;
        for (const char* body : kBodies) {
            auto record = std::make_unique<CMailRecord>();
            record->m_pszText = "Subject: m" + std::to_string(++n) + "\r\n\r\n" + body;
            record->m_nSize = static_cast<int32_t>(record->m_pszText.size());
            session.m_messages.append(std::move(record));
        }
    }
    void PrepareAll()
    {
        for (CMailRecord* record : session.m_messages)
            hub.PrepareBodyVerdict(record);
    }
    // Waits until the background threads ran `count` jobs.
    void AwaitBackground(int64_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (hub.m_pBodyWorker->RunInBackground() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(hub.m_pBodyWorker->RunInBackground(), count);
    }
    Outcome Analyse()
    {
        hub.AnalyseMessages(&session);
        Outcome outcome;
        outcome.log = LogLines();
        for (CMailRecord* record : session.m_messages) {
            outcome.texts.push_back(record->m_pszText);
            outcome.labels.push_back(record->m_strSpamType + "|" + record->m_strFilterLabel + "|" +
                                     record->m_strRuleText);
            EXPECT_EQ(record->m_pBodyJob, nullptr); // nothing is held after the run
        }
        return outcome;
    }
    // The same messages analysed by a hub that prepares nothing (before
    // this hub's analysis tags them).
    Outcome Unprepared(bool debug)
    {
        CMainDialog plain;
        plain.m_bEchoLog = false;
        plain.m_clock = hub.m_clock;
        plain.m_bDebug = debug;
        plain.m_bPrepareBodies = false;
        CSession other;
        for (CMailRecord* record : session.m_messages) {
            auto copy = std::make_unique<CMailRecord>();
            copy->m_pszText = record->m_pszText;
            copy->m_nSize = record->m_nSize;
            other.m_messages.append(std::move(copy));
        }
        plain.AnalyseMessages(&other);
        Outcome outcome;
        outcome.log = LogLinesOf(plain);
        for (CMailRecord* record : other.m_messages) {
            outcome.texts.push_back(record->m_pszText);
            outcome.labels.push_back(record->m_strSpamType + "|" + record->m_strFilterLabel + "|" +
                                     record->m_strRuleText);
            EXPECT_EQ(record->m_pBodyJob, nullptr); // nothing was prepared
        }
        return outcome;
    }
};

TEST_F(PreparedBodyTest, VerdictsFromTheBackgroundGiveTheSameAnalysis)
{
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug ? "debug" : "quiet");
        WriteRules(kRules);
        hub.m_bDebug = debug;
        hub.m_log.Clear();
        session.m_messages.clear();
        AddAll();
        const int64_t before = hub.m_pBodyWorker ? hub.m_pBodyWorker->RunInBackground() : 0;
        PrepareAll();
        AwaitBackground(before + static_cast<int64_t>(std::size(kBodies)));
        const Outcome expected = Unprepared(debug);
        const Outcome prepared = Analyse();
        ExpectSame(prepared, expected);
        EXPECT_NE(prepared.labels[2].find("CHEAP"), std::string::npos); // the passes did find something
    }
}

TEST_F(PreparedBodyTest, CollectingBeforeTheBackgroundIsDoneGivesTheSameAnalysis)
{
    WriteRules(kRules);
    for (int i = 0; i < 40; ++i)
        AddAll();
    PrepareAll();
    const Outcome expected = Unprepared(false);
    ExpectSame(Analyse(), expected); // some verdicts waited for, some run here
}

TEST_F(PreparedBodyTest, AVerdictOfOtherRulesIsNotUsed)
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
    EXPECT_EQ(outcome.labels[4], "Body|no HTML and no separate char and convertion char ( '`.,;^!%?*$) @0\xE9\xE8\xE0|TOSEE");
}

TEST_F(PreparedBodyTest, AVerdictOfAnotherDebugSettingIsNotUsed)
{
    WriteRules(kRules);
    AddAll();
    PrepareAll();
    AwaitBackground(static_cast<int64_t>(std::size(kBodies)));
    hub.m_bDebug = true;
    const Outcome expected = Unprepared(true);
    ExpectSame(Analyse(), expected);
}

TEST_F(PreparedBodyTest, AVerdictOfAnotherTextIsNotUsed)
{
    WriteRules(kRules);
    AddAll();
    PrepareAll();
    AwaitBackground(static_cast<int64_t>(std::size(kBodies)));
    CMailRecord* last = session.m_messages.tail();
    last->m_pszText = "Subject: x\r\n\r\ncheap pills\r\n";
    const Outcome expected = Unprepared(false);
    const Outcome outcome = Analyse();
    ExpectSame(outcome, expected);
    EXPECT_EQ(outcome.labels.back(), "Body|no HTML|CHEAP PILLS");
}

TEST_F(PreparedBodyTest, NothingIsPreparedWhenAnalysisCannotUseIt)
{
    WriteRules(kRules);
    AddAll();
    CMailRecord* first = session.m_messages.head();
    hub.m_nMaxMsgSize = first->m_nSize; // too large for the body passes
    hub.PrepareBodyVerdict(first);
    EXPECT_EQ(first->m_pBodyJob, nullptr);
    hub.m_nMaxMsgSize = 1 << 30;
    hub.m_bAnalysisOff = true;
    hub.PrepareBodyVerdict(first);
    EXPECT_EQ(first->m_pBodyJob, nullptr);
    hub.m_bAnalysisOff = false;
    std::filesystem::remove(m_folder + "/blacklist.txt");
    hub.PrepareBodyVerdict(first);
    EXPECT_EQ(first->m_pBodyJob, nullptr);
}

// The worker on its own: verdicts equal to running the passes directly,
// whether a thread or the collector ran them, and dropped jobs are skipped
// without holding up the worker's end.
TEST(BodyWorker, VerdictsAndDroppedJobs)
{
    auto rules = std::make_shared<const CBodyRules>(kRules);
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i)
        texts.push_back("Subject: s\r\n\r\n" + std::string(kBodies[i % std::size(kBodies)]) + std::to_string(i));
    {
        CBodyWorker worker(2);
        std::vector<std::shared_ptr<CBodyJob>> jobs;
        for (const std::string& text : texts)
            jobs.push_back(worker.Submit(text, rules, false));
        for (size_t i = 0; i < jobs.size(); ++i) {
            const SBodyVerdict direct = RunBodyPasses(WithStatusLine(texts[i]), rules->Matchers(), false);
            const SBodyVerdict collected = worker.Collect(*jobs[i]);
            ASSERT_EQ(collected.position, direct.position) << i;
            ASSERT_EQ(collected.label, direct.label) << i;
            ASSERT_EQ(collected.ruleText, direct.ruleText) << i;
            ASSERT_EQ(collected.log, direct.log) << i;
        }
    }
    // Dropped at once: the worker skips what it can and ends with the rest
    // still queued.
    CBodyWorker worker(1);
    for (int round = 0; round < 50; ++round)
        for (const std::string& text : texts)
            worker.Submit(text + std::string(10000, 'x'), rules, false);
    EXPECT_LT(worker.RunInBackground(), 50 * static_cast<int64_t>(texts.size()));
}
