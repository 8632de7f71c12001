#include "shell/Settings.h"
#include "base/Numbers.h"

#include <gtest/gtest.h>

namespace {

CSettings Parse(const std::string& content)
{
    CSettings s;
    ParseSettings(content, s);
    return s;
}

} // namespace

TEST(Settings, DefaultsWithoutAnyKey)
{
    const CSettings s = Parse("");
    EXPECT_EQ(s.m_strPopServer, "");
    EXPECT_EQ(s.m_nMaxMsgSize, 500000);
    EXPECT_EQ(s.m_nMaxLogSize, 0);
    EXPECT_EQ(s.m_nMaxMemoMsg, 100);
    EXPECT_TRUE(s.m_plugInNames.empty());
    EXPECT_EQ(s.m_nListenPort, 110);
    EXPECT_EQ(s.m_strListenAddress, "");
}

TEST(Settings, SpacesAnywhereAreRemovedAndKeysIgnoreCase)
{
    const CSettings s = Parse("pop server = mail.example.org\nproxyusername=bob\nPROXYPASSWORD=x=y\n");
    EXPECT_EQ(s.m_strPopServer, "mail.example.org");
    EXPECT_EQ(s.m_strProxyUserName, "bob");
    EXPECT_EQ(s.m_strProxyPassword, "x=y"); // further '=' belong to the value
}

TEST(Settings, HostWithPortIsKeptWhole)
{
    EXPECT_EQ(Parse("POPServer=pop.example.org:995\n").m_strPopServer, "pop.example.org:995");
}

TEST(Settings, SizesAreKilobytes)
{
    EXPECT_EQ(Parse("MaxMsgSize=100").m_nMaxMsgSize, 102400);
    EXPECT_EQ(Parse("MaxMsgSize=-1").m_nMaxMsgSize, -1024);
    EXPECT_EQ(Parse("MaxLogSize=1").m_nMaxLogSize, 1024);
    EXPECT_EQ(Parse("MaxLogSize=-5").m_nMaxLogSize, 0);
    EXPECT_EQ(Parse("MaxMemoMsg=-3").m_nMaxMemoMsg, 0);
    EXPECT_EQ(Parse("MaxMemoMsg=7").m_nMaxMemoMsg, 7);
    EXPECT_EQ(Parse("MaxStoreMB=-2").m_nMaxStoreMB, 0);
    EXPECT_EQ(Parse("maxstoremb=5").m_nMaxStoreMB, 5);
    EXPECT_EQ(Parse("ScanAnswerSeconds=-1").m_nScanAnswerSeconds, 0);
    EXPECT_EQ(Parse("ScanAnswerSeconds=12").m_nScanAnswerSeconds, 12);
}

TEST(Settings, SpamHeadersIsOffUnlessANonZeroNumber)
{
    EXPECT_FALSE(Parse("").m_bSpamHeaders);
    EXPECT_TRUE(Parse("spamheaders = 1").m_bSpamHeaders);
    EXPECT_FALSE(Parse("SpamHeaders=1\nSpamHeaders=0").m_bSpamHeaders);
    EXPECT_FALSE(Parse("SpamHeaders=yes").m_bSpamHeaders);
}

TEST(Settings, NumbersReadLikeAtoi)
{
    EXPECT_EQ(Parse("MaxMemoMsg=12abc").m_nMaxMemoMsg, 12);
    EXPECT_EQ(Parse("MaxMemoMsg=abc").m_nMaxMemoMsg, 0);
    EXPECT_EQ(Parse("MaxMemoMsg=+9").m_nMaxMemoMsg, 9);
    EXPECT_EQ(Parse("MaxMemoMsg=").m_nMaxMemoMsg, 0);
}

TEST(Settings, OverflowSaturatesInsteadOfWrapping)
{
    EXPECT_EQ(AtoiSaturating("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(AtoiSaturating("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(AtoiSaturating("2147483647"), INT32_MAX);
    EXPECT_EQ(AtoiSaturating("-2147483648"), INT32_MIN);
    EXPECT_EQ(Parse("MaxMsgSize=4194304").m_nMaxMsgSize, INT32_MAX);
    EXPECT_EQ(Parse("MaxMsgSize=-4194305").m_nMaxMsgSize, INT32_MIN);
    EXPECT_EQ(Parse("MaxLogSize=99999999999").m_nMaxLogSize, INT32_MAX);
    EXPECT_EQ(Parse("MaxLogSize=-99999999999").m_nMaxLogSize, 0);
    EXPECT_EQ(Parse("MaxMemoMsg=99999999999").m_nMaxMemoMsg, INT32_MAX);
}

TEST(Settings, PlugInLinesAccumulateInFileOrder)
{
    const CSettings s = Parse("PlugIn=first.so\nplugin=second.so\nPlugIn=\n");
    ASSERT_EQ(s.m_plugInNames.size(), 3u);
    EXPECT_EQ(s.m_plugInNames[0], "first.so");
    EXPECT_EQ(s.m_plugInNames[1], "second.so");
    EXPECT_EQ(s.m_plugInNames[2], ""); // an empty value still names a plug-in
}

TEST(Settings, LaterKeyWins)
{
    EXPECT_EQ(Parse("POPServer=a\nPOPServer=b\n").m_strPopServer, "b");
}

TEST(Settings, CommentsAndValuesWithHash)
{
    const CSettings s = Parse("#POPServer=a\n   # MaxMemoMsg=5\nPOPServer=host#rest\n");
    EXPECT_EQ(s.m_strPopServer, "host#rest");
    EXPECT_EQ(s.m_nMaxMemoMsg, 100);
}

TEST(Settings, CrLfReadsLikeLf)
{
    const std::string lf = "POPServer=h\nMaxMemoMsg=3\nPlugIn=p\n";
    const std::string crlf = "POPServer=h\r\nMaxMemoMsg=3\r\nPlugIn=p\r\n";
    const CSettings a = Parse(lf), b = Parse(crlf);
    EXPECT_EQ(a.m_strPopServer, b.m_strPopServer);
    EXPECT_EQ(a.m_nMaxMemoMsg, b.m_nMaxMemoMsg);
    EXPECT_EQ(a.m_plugInNames, b.m_plugInNames);
    EXPECT_EQ(b.m_strPopServer, "h");
}

TEST(Settings, LineWithoutEqualsIsIgnored)
{
    EXPECT_EQ(Parse("MaxMemoMsg\n").m_nMaxMemoMsg, 100);
    EXPECT_EQ(Parse("=5\n").m_nMaxMemoMsg, 100);
    EXPECT_EQ(Parse("Unknown=5\n").m_nMaxMemoMsg, 100);
}

TEST(Settings, TabsAreNotRemoved)
{
    EXPECT_EQ(Parse("POPServer=\thost\n").m_strPopServer, "\thost");
    EXPECT_EQ(Parse("\tPOPServer=host\n").m_strPopServer, ""); // key "\tPOPServer" is unknown
}

TEST(Settings, ListenKeys)
{
    const CSettings s = Parse("ListenPort = 1110\nlistenaddress=127.0.0.1\nMAXCONNECTIONS=3\n");
    EXPECT_EQ(s.m_nListenPort, 1110);
    EXPECT_EQ(s.m_strListenAddress, "127.0.0.1");
    EXPECT_EQ(s.m_nMaxConnections, 3);
    EXPECT_EQ(Parse("").m_nMaxConnections, 64);
}

TEST(Settings, ServerSecurityKeys)
{
    const struct {
        const char* text;
        ServerSecurity want;
    } cases[] = {
        {"", ServerSecurity::kAuto},
        {"ServerSecurity=tls\n", ServerSecurity::kTls},
        {"serversecurity = STARTTLS\n", ServerSecurity::kStartTls},
        {"SERVERSECURITY=None\n", ServerSecurity::kNone},
        {"ServerSecurity=tls\nServerSecurity=auto\n", ServerSecurity::kAuto},
        // an unknown word keeps what was there
        {"ServerSecurity=starttls\nServerSecurity=ssl\n", ServerSecurity::kStartTls},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.text).m_nServerSecurity, c.want) << c.text;
    EXPECT_EQ(Parse("ServerCertificate=/etc/orvelane/Server.pem\n").m_strServerCertificate,
              "/etc/orvelane/Server.pem");
}

TEST(Settings, EightBitValuesAreKeptAsBytes)
{
    // Accented capitals in a value survive untouched; keys compare by the code page.
    EXPECT_EQ(Parse("POPSERVER=\xC9t\xE9\n").m_strPopServer, "\xC9t\xE9");
}
