// The proxy's pure pieces: the unit rule, the answer tracker, the POP3 text
// readers, the login forms.
#include "base/Base64.h"
#include "base/Numbers.h"
#include "proxy/AnswerTracker.h"
#include "proxy/Login.h"
#include "proxy/Pop3Text.h"
#include "proxy/Sockets.h"

#include <gtest/gtest.h>

TEST(UnitRule, ShortChunkWithLineFeedEndsTheUnit)
{
    EXPECT_TRUE(ChunkEndsUnit("STAT\r\n"));
    EXPECT_TRUE(ChunkEndsUnit("a\nb"));
    EXPECT_FALSE(ChunkEndsUnit("STAT"));
    EXPECT_FALSE(ChunkEndsUnit(""));
}

TEST(UnitRule, WholeChunkGoesOnEvenWithLineFeeds)
{
    std::string full(kReadChunk, 'x');
    full[10] = '\n';
    full.replace(full.size() - 2, 2, "\r\n");
    EXPECT_FALSE(ChunkEndsUnit(full));
    EXPECT_TRUE(ChunkEndsUnit(full.substr(1)));
    // Outside a retrieval the rule stays as it is.
    EXPECT_FALSE(ChunkEndsUnit(full, full, false, false));
}

TEST(UnitRule, WholeChunkEndingARetrievalEndsTheUnitWhenNothingWaits)
{
    std::string full(kReadChunk - 5, 'x');
    full += "\r\n.\r\n";
    EXPECT_TRUE(ChunkEndsUnit(full, full, true, false));
    EXPECT_FALSE(ChunkEndsUnit(full, full, true, true));
    std::string open = full;
    open.back() = 'x';
    EXPECT_FALSE(ChunkEndsUnit(open, open, true, false));
}

namespace {

std::string Feed(CAnswerTracker& tracker, std::string_view data, std::vector<CAnswerTracker::Event>* events = nullptr)
{
    std::vector<CAnswerTracker::Event> local;
    return tracker.Feed(data, events ? *events : local);
}

} // namespace

TEST(AnswerTracker, KindsOfCommands)
{
    using K = CAnswerTracker::Kind;
    EXPECT_EQ(CAnswerTracker::KindOf("LIST\r\n"), K::kMulti);
    EXPECT_EQ(CAnswerTracker::KindOf("list 2\r\n"), K::kSingle);
    EXPECT_EQ(CAnswerTracker::KindOf("UIDL\r\n"), K::kMulti);
    EXPECT_EQ(CAnswerTracker::KindOf("UIDL 1\r\n"), K::kSingle);
    EXPECT_EQ(CAnswerTracker::KindOf("retr 1\r\n"), K::kMulti);
    EXPECT_EQ(CAnswerTracker::KindOf("TOP 1 0\r\n"), K::kMulti);
    EXPECT_EQ(CAnswerTracker::KindOf("capa\r\n"), K::kCapa);
    EXPECT_EQ(CAnswerTracker::KindOf("DELE 1\r\n"), K::kSingle);
}

TEST(AnswerTracker, MultiLineAnswerEndsAtTheClosingLineOnly)
{
    CAnswerTracker tracker;
    tracker.Expect(CAnswerTracker::Kind::kMulti);
    EXPECT_EQ(Feed(tracker, "+OK\r\n1 a.\r\n..\r\n.x\r\n"), "+OK\r\n1 a.\r\n..\r\n.x\r\n");
    EXPECT_FALSE(tracker.Idle());
    EXPECT_EQ(Feed(tracker, "."), ".");
    EXPECT_FALSE(tracker.Idle());
    EXPECT_EQ(Feed(tracker, "\r\n"), "\r\n");
    EXPECT_TRUE(tracker.Idle());
}

TEST(AnswerTracker, ErrorToAMultiLineCommandIsOneLine)
{
    CAnswerTracker tracker;
    tracker.Expect(CAnswerTracker::Kind::kMulti);
    tracker.Expect(CAnswerTracker::Kind::kSingle);
    EXPECT_EQ(Feed(tracker, "-ERR no\r\n+O"), "-ERR no\r\n");
    EXPECT_FALSE(tracker.Idle());
    EXPECT_EQ(Feed(tracker, "K\r\nextra"), "+OK\r\n");
    EXPECT_TRUE(tracker.Idle());
    EXPECT_EQ(tracker.Broken(), CAnswerTracker::Fault::kUnowed);
}

// What the client is given of a broken answer: what came before the fault,
// never the fault itself.
TEST(AnswerTracker, FaultsStopTheAnswerWhereTheyBegin)
{
    using K = CAnswerTracker::Kind;
    using F = CAnswerTracker::Fault;
    const std::string endless(pop3::kMaxStatusLine + 1, 'x');
    const struct {
        K kind;
        std::string data, out;
        F fault;
    } rows[] = {
        {K::kSingle, "what?\r\n", "", F::kNotStatus},
        {K::kSingle, "+", "", F::kNone},
        {K::kSingle, "+OK" + endless, "", F::kTooLong},
        {K::kCapa, "+OK\r\nTOP\r\n" + endless, "+OK\r\nTOP\r\n", F::kTooLong},
        {K::kMulti, "+OK\r\n+OK 9 octets\r\nSubject: a\r\n.\r\n", "+OK\r\n", F::kDoubleStatus},
        {K::kMulti, "+OK\r\n-ER", "+OK\r\n", F::kNone},
        {K::kMulti, "+OK\r\n-E\r\n.\r\n", "+OK\r\n-E\r\n.\r\n", F::kNone},
        {K::kMulti, "+OK\r\n.\r\n-ERR\r\n", "+OK\r\n.\r\n", F::kUnowed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.data.substr(0, 40));
        CAnswerTracker tracker;
        tracker.Expect(row.kind);
        EXPECT_EQ(Feed(tracker, row.data), row.out);
        EXPECT_EQ(tracker.Broken(), row.fault);
        // Once broken, nothing more goes out.
        if (row.fault != F::kNone) {
            EXPECT_EQ(Feed(tracker, "+OK\r\n.\r\n"), "");
        }
    }
}

TEST(AnswerTracker, CapabilitiesTheProxyCannotHonourAreDropped)
{
    CAnswerTracker tracker;
    tracker.Expect(CAnswerTracker::Kind::kCapa);
    EXPECT_EQ(Feed(tracker, "+OK list\r\nTOP\r\nPIPELINING\r\nST"), "+OK list\r\nTOP\r\n");
    EXPECT_EQ(Feed(tracker, "LS\r\nsasl PLAIN\r\nUIDL\r\n.\r\n"), "UIDL\r\nPIPELINING\r\n.\r\n");
    EXPECT_TRUE(tracker.Idle());
}

TEST(AnswerTracker, LoginRoutesKeepTheUserAnswerAndPassTheFinalOne)
{
    using R = CAnswerTracker::Route;
    CAnswerTracker tracker;
    std::vector<CAnswerTracker::Event> events;
    tracker.Expect(CAnswerTracker::Kind::kSingle, R::kLoginUser);
    EXPECT_EQ(Feed(tracker, "+OK user\r\n", &events), "");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].ok);
    tracker.Expect(CAnswerTracker::Kind::kSingle, R::kLoginPass);
    EXPECT_EQ(Feed(tracker, "-ERR bad password\r\n", &events), "-ERR bad password\r\n");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[1].ok);

    tracker.Expect(CAnswerTracker::Kind::kSingle, R::kLoginUser);
    EXPECT_EQ(Feed(tracker, "-ERR unknown user\r\n", &events), "-ERR unknown user\r\n");
}

TEST(AnswerTracker, HeldStatusLineIsGivenBackAtTheEnd)
{
    CAnswerTracker tracker;
    tracker.Expect(CAnswerTracker::Kind::kSingle);
    EXPECT_EQ(Feed(tracker, "+OK bye"), "");
    EXPECT_EQ(tracker.TakeHeld(), "+OK bye");
}

TEST(Pop3Text, NumbersSaturateAndNeedADigit)
{
    size_t pos = 0;
    int32_t v = 0;
    EXPECT_TRUE(ReadSaturated("  42 x", pos, v));
    EXPECT_EQ(v, 42);
    EXPECT_EQ(pos, 4u);
    pos = 0;
    EXPECT_TRUE(ReadSaturated("99999999999999999999", pos, v));
    EXPECT_EQ(v, INT32_MAX);
    pos = 0;
    EXPECT_TRUE(ReadSaturated("-99999999999", pos, v));
    EXPECT_EQ(v, INT32_MIN);
    pos = 0;
    EXPECT_FALSE(ReadSaturated(" - 1", pos, v));
    int32_t a = 0, b = 0;
    EXPECT_EQ(pop3::ReadOkNumbers("+OK 2 320\r\n", a, b), 2);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 320);
    EXPECT_EQ(pop3::ReadOkNumbers("+OK 7\r\n", a, b), 1);
    EXPECT_EQ(pop3::ReadOkNumbers("+OK maildrop\r\n", a, b), 0);
    EXPECT_EQ(pop3::ReadOkNumbers("-ERR 1 2\r\n", a, b), 0);
}

TEST(Pop3Text, ListingKeepsTheServersNumbersInLineOrder)
{
    using Listing = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(pop3::ParseListing("+OK 3 messages (300 octets)\r\n9 100\r\n2 -5\r\nbad\r\n1 200\r\n.\r\n"),
              (Listing{{9, 100}, {2, 0}, {1, 200}}));
    EXPECT_EQ(pop3::ParseListing("+OK\r\n0 5\r\n2 7\r\n2 8\r\n-1 3\r\n.\r\n"), (Listing{{2, 7}}));
    EXPECT_TRUE(pop3::ParseListing("+OK\r\n.\r\n").empty());
}

TEST(Pop3Text, UidlsByNumber)
{
    EXPECT_EQ(pop3::ParseUidls("+OK\r\n2 b c\r\n1 a\r\n5 five\r\n0 zero\r\nnospace\r\n.\r\n"),
              (std::map<int32_t, std::string>{{1, "a"}, {2, "b c"}, {5, "five"}}));
}

TEST(Pop3Text, TopKeepsHeaderAndFirstLines)
{
    const std::string stored = "A: 1\r\nB: 2\r\n\r\nl1\r\n..l2\r\nl3\r\n.\r\n";
    EXPECT_EQ(pop3::TopOfMessage(stored, 0), "A: 1\r\nB: 2\r\n\r\n.\r\n");
    EXPECT_EQ(pop3::TopOfMessage(stored, 2), "A: 1\r\nB: 2\r\n\r\nl1\r\n..l2\r\n.\r\n");
    EXPECT_EQ(pop3::TopOfMessage(stored, 10), "A: 1\r\nB: 2\r\n\r\nl1\r\n..l2\r\nl3\r\n.\r\n");
    EXPECT_EQ(pop3::TopOfMessage("A: 1\r\n.\r\n", 3), "A: 1\r\n.\r\n");
    EXPECT_EQ(pop3::TopOfMessage(".\r\n", 3), ".\r\n");
    EXPECT_EQ(pop3::TopOfMessage("\r\nbody\r\n.\r\n", 0), "\r\n.\r\n");
    EXPECT_EQ(pop3::TopOfMessage("A: 1\n.\n", 0), "A: 1\n.\r\n");
}

TEST(Pop3Text, RetrievalEnd)
{
    // CR LF line ends, and LF alone from servers that pass stored files through.
    for (const char* closed : {".\r\n", "a\r\n.\r\n", ".\n", "a\n.\n", "a\n.\r\n"})
        EXPECT_TRUE(pop3::EndsRetrieval(closed)) << closed;
    for (const char* open : {"a.\r\n", "a\r\n..\r\n", "a\n..\n", "a\n.", "a\n.\r", "."})
        EXPECT_FALSE(pop3::EndsRetrieval(open)) << open;
    EXPECT_EQ(pop3::ClosingLineEnd("x\n.\nrest", 0), 4u);
    EXPECT_EQ(pop3::ClosingLineEnd("x\r\n.\r\n.\n", 0), 6u);
    EXPECT_EQ(pop3::ClosingLineEnd("x\r\n.\r\n.\n", 6), 8u);
    EXPECT_EQ(pop3::ClosingLineEnd("x\r\n.\r\n", 6), std::string::npos);
}

TEST(Pop3Text, TraceTextStopsAtZeroAndKeepsWhatTheLogNeeds)
{
    EXPECT_EQ(pop3::TraceText(std::string_view("ab\0cd", 5), false), "ab");
    const std::string lines = "first\r\nsecond\r\nthird\r\n";
    EXPECT_EQ(pop3::TraceText(lines, true), "first\r\nse");
    EXPECT_EQ(pop3::TraceText("one\r\n", true), "one\r\n");
    EXPECT_EQ(pop3::TraceText(std::string(200, 'x'), true).size(), 123u);
}

TEST(Pop3Text, PasswordsMaskedWhateverTheCase)
{
    EXPECT_EQ(pop3::MaskPasswords("N - C   O->P | pass s3cret\r\n"), "N - C   O->P | PASS *****\r\n");
    EXPECT_EQ(pop3::MaskPasswords("USER a\r\nPass x\r\n"), "USER a\r\nPASS *****\r\n");
    EXPECT_EQ(pop3::MaskPasswords("bypass it\r\n"), "bypass it\r\n");
    EXPECT_EQ(pop3::MaskPasswords("N - C->O   P | PASS\tsecret\r\n"), "N - C->O   P | PASS *****\r\n");
    EXPECT_EQ(pop3::MaskPasswords("USER a\r\n\tpass\t s\r\n"), "USER a\r\n\tPASS *****\r\n");
    EXPECT_EQ(pop3::MaskPasswords("PASSWORD x\r\n"), "PASSWORD x\r\n");
}

TEST(UserLine, ServerNameWithAndWithoutPort)
{
    std::string host;
    int32_t port = 110;
    EXPECT_FALSE(SplitServerName("pop.example.org", host, port));
    EXPECT_EQ(host, "pop.example.org");
    EXPECT_EQ(port, 110);
    struct Case {
        const char* server;
        const char* host;
        int32_t port; // 0: none given
    };
    const Case cases[] = {
        {"pop.example.org:995", "pop.example.org", 995}, {"[::1]:1110", "::1", 1110},
        {"[2001:db8::1]:110", "2001:db8::1", 110},         {"[::1]", "::1", 0},
        {"2001:db8::1", "2001:db8::1", 0},                 {":110", "", 110},
    };
    for (const Case& c : cases) {
        port = 0;
        bool ambiguous = true;
        EXPECT_EQ(SplitServerName(c.server, host, port, &ambiguous), c.port != 0) << c.server;
        EXPECT_EQ(host, c.host) << c.server;
        EXPECT_EQ(port, c.port) << c.server;
        EXPECT_FALSE(ambiguous) << c.server;
    }
    // The last group of a v6 address without brackets could be a port.
    for (const char* server : {"::1:23290", "2001:db8::1:110", "::1:1"}) {
        bool ambiguous = false;
        SplitServerName(server, host, port, &ambiguous);
        EXPECT_TRUE(ambiguous) << server;
    }
}

TEST(UserLine, ServerInParenthesesWithPort)
{
    const CUserLine user = ParseUserLine("USER alice  (pop.example.org:1110) trailing\r\n");
    EXPECT_TRUE(user.namesServer);
    EXPECT_EQ(user.host, "pop.example.org");
    EXPECT_TRUE(user.hasPort);
    EXPECT_EQ(user.port, 1110);
    EXPECT_EQ(user.line, "USER alice\r\n");
    EXPECT_EQ(user.userName, "alice");
}

TEST(UserLine, HostOnlyOrEmptyOrUnbalanced)
{
    CUserLine user = ParseUserLine("USER bob(mail.example.net)\r\n");
    EXPECT_EQ(user.host, "mail.example.net");
    EXPECT_FALSE(user.hasPort);
    user = ParseUserLine("USER bob)x(\r\n");
    EXPECT_TRUE(user.namesServer);
    EXPECT_EQ(user.host, "");
    user = ParseUserLine("USER bob(mail\r\n");
    EXPECT_FALSE(user.namesServer);
    EXPECT_EQ(user.line, "USER bob(mail\r\n");
}

TEST(UserLine, UserAndPassInOneUnit)
{
    CUserLine user = ParseUserLine("USER carol\r\nPASS pw\r\n");
    EXPECT_EQ(user.line, "USER carol\r\nPASS pw\r\n");
    EXPECT_EQ(user.userName, "carol");
    user = ParseUserLine("USER carol(h:1)\r\nPASS pw\r\n");
    EXPECT_EQ(user.line, "USER carol\r\n");
    EXPECT_EQ(user.rest, "PASS pw\r\n");
}

TEST(Base64, StrictDecoding)
{
    EXPECT_EQ(DecodeBase64Strict("YWxpY2U="), "alice");
    EXPECT_EQ(DecodeBase64Strict("AGFsaWNlAHNlY3JldA=="), std::string("\0alice\0secret", 13));
    EXPECT_EQ(DecodeBase64Strict(""), "");
    EXPECT_FALSE(DecodeBase64Strict("YWxpY2U"));
    EXPECT_FALSE(DecodeBase64Strict("YW=pY2U="));
    EXPECT_FALSE(DecodeBase64Strict("YWx*Y2U="));
}

TEST(Base64, PlainCredentials)
{
    auto c = SplitPlainCredentials(std::string("\0alice\0secret", 13));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->first, "alice");
    EXPECT_EQ(c->second, "secret");
    c = SplitPlainCredentials(std::string("admin\0\0pw", 9));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->first, "admin");
    EXPECT_FALSE(SplitPlainCredentials("no separators"));
    EXPECT_FALSE(IsSafeCredential("a\r\nDELE 1"));
    EXPECT_TRUE(IsSafeCredential("p@ss word"));
}
