// The start-up self-test with and without a test message.
#include "support/HubFixture.h"
#include "base/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

class SelfTestTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = CurrentDirectory();
        char pattern[] = "/tmp/orvelane-selftest-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        m_hadXdg = xdg != nullptr;
        if (xdg)
            m_xdg = xdg;
        ::setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
        m_config = ConfigFolder();
        ASSERT_TRUE(SetCurrentDirectory(m_config));
        QuietHub(hub, std::tm{});
        hub.Proxy().m_nLastSessionNumber = 4;
    }
    void TearDown() override
    {
        SetCurrentDirectory(m_previous);
        if (m_hadXdg)
            ::setenv("XDG_CONFIG_HOME", m_xdg.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_folder);
    }
    void Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(m_config + "/" + name, std::ios::binary) << bytes;
    }
    std::string Log() const { return std::string(hub.Log().Text()); }

    CMainDialog hub;
    std::string m_folder, m_config, m_previous, m_xdg;
    bool m_hadXdg = false;
};

TEST_F(SelfTestTest, WithoutTheFileNothingHappens)
{
    hub.RunSelfTest();
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(hub.Proxy().m_sessions.empty());
    EXPECT_EQ(hub.MailList().RowCount(), 0);
}

TEST_F(SelfTestTest, TheFileIsAnalysedLikeADownloadedMessage)
{
    Write("blacklist.txt", "FROM:\r\nspammer\r\n");
    Write("mail.txt", "From: spammer@x\r\nSubject: Test\r\n\r\nbody\r\n");
    hub.RunSelfTest();
    const std::string stamp = "(00:00:00) ";
    EXPECT_EQ(Log(), stamp + "Chargement de " + m_config + "/mail.txt \r\n" +
                         stamp + "Chargement de " + m_config + "/blacklist.txt\r\n" +
                         stamp + "Analyse du Msg N\xB0" "1\r\n" +
                         stamp + "Msg N\xB0" "1 est un Spam de type From (String search)\r\n" +
                         stamp + "Find d'analyse du Msg N\xB0" "1\r\n");
    ASSERT_EQ(hub.MailList().RowCount(), 1);
    EXPECT_EQ(hub.MailList().RowAt(0),
              (CMailListModel::Row{" spammer@x", " Test", "From (spammer)", "", "0", ""}));
    EXPECT_TRUE(hub.Proxy().m_sessions.empty());
    EXPECT_TRUE(hub.Proxy().m_processedMails.empty());
}

TEST_F(SelfTestTest, StartUpRunsIt)
{
    Write("mail.txt", "Subject: at start\n\nbody\n");
    hub.OnInitDialog();
    EXPECT_NE(Log().find("Chargement de " + m_config + "/mail.txt \r\n"), std::string::npos);
    EXPECT_NE(Log().find("Find d'analyse du Msg N\xB0" "1\r\n"), std::string::npos);
    EXPECT_EQ(hub.MailList().Cell(0, CMailListModel::kSubject), " at start");
}
