#include "base/Paths.h"
#include "shell/ProxyApp.h"
#include "support/HubFixture.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

// Runs a test in a fresh current directory and configuration folder, and
// restores both afterwards.
class StartupTest : public HubTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_work.isValid());
        m_oldCwd = CurrentDirectory();
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        m_oldXdg = xdg ? xdg : "";
        m_hadXdg = xdg != nullptr;
        ::setenv("XDG_CONFIG_HOME", m_home.path().toStdString().c_str(), 1);
        SetCurrentDirectory(m_work.path().toStdString());
    }
    void TearDown() override
    {
        SetCurrentDirectory(m_oldCwd);
        if (m_hadXdg)
            ::setenv("XDG_CONFIG_HOME", m_oldXdg.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string Config() const { return m_home.path().toStdString() + "/orvelane"; }
    std::string Work() const { return m_work.path().toStdString(); }

    QTemporaryDir m_home, m_work;
    std::string m_oldCwd, m_oldXdg;
    bool m_hadXdg = false;
};

} // namespace

TEST_F(StartupTest, SettingsFromTheCurrentDirectory)
{
    WriteTextFile(Work() + "/Orvelane.ini", "POPServer = here\nMaxMemoMsg=4\n");
    hub.ReadSettings();
    EXPECT_EQ(hub.Settings().m_strPopServer, "here");
    EXPECT_EQ(hub.Settings().m_nMaxMemoMsg, 4);
    EXPECT_EQ(Log(), "(09:05:03) Recherche de Orvelane.ini dans " + Work() + "\r\n" +
                         "(09:05:03) Chargement de " + Work() + "/Orvelane.ini\r\n");
    EXPECT_EQ(CurrentDirectory(), Work());
}

TEST_F(StartupTest, SettingsFileFoundWhateverItsCase)
{
    WriteTextFile(Work() + "/ORVELANE.INI", "POPServer=upper\n");
    hub.ReadSettings();
    EXPECT_EQ(hub.Settings().m_strPopServer, "upper");
    EXPECT_NE(Log().find("Chargement de " + Work() + "/ORVELANE.INI\r\n"), std::string::npos);
    EXPECT_EQ(FindFile(Work(), "orvelane.ini"), Work() + "/ORVELANE.INI");
    EXPECT_EQ(FindFile(Work(), "missing.txt"), Work() + "/missing.txt");
}

TEST_F(StartupTest, FallsBackToTheConfigurationFolder)
{
    ConfigFolder();
    WriteTextFile(Config() + "/Orvelane.ini", "POPServer=there\n");
    hub.ReadSettings();
    EXPECT_EQ(hub.Settings().m_strPopServer, "there");
    EXPECT_EQ(CurrentDirectory(), Config()); // the folder becomes current
    EXPECT_EQ(Log(), "(09:05:03) Recherche de Orvelane.ini dans " + Work() + "\r\n" +
                         "(09:05:03) Recherche de Orvelane.ini dans " + Config() + "\r\n" +
                         "(09:05:03) Chargement de " + Config() + "/Orvelane.ini\r\n");
}

TEST_F(StartupTest, MissingSettingsKeepTheDefaults)
{
    hub.ReadSettings();
    EXPECT_TRUE(Log().ends_with("dans " + Config() + "\r\n(09:05:03) Impossible de lire Orvelane.ini\r\n"));
    EXPECT_EQ(hub.Settings().m_nMaxMsgSize, 500000);
    EXPECT_EQ(CurrentDirectory(), Config());
}

TEST(CommandLine, DefaultSwitch)
{
    EXPECT_TRUE(CProxyApp::IsDefaultSwitch({"/default"}));
    EXPECT_TRUE(CProxyApp::IsDefaultSwitch({"/DEFAULT"}));
    EXPECT_FALSE(CProxyApp::IsDefaultSwitch({"/default", "x"}));
    EXPECT_FALSE(CProxyApp::IsDefaultSwitch({}));
    EXPECT_FALSE(CProxyApp::IsDefaultSwitch({"-default"}));
    using C = CProxyApp::ECommand;
    const std::pair<std::vector<std::string>, C> lines[] = {
        {{}, C::kRun},           {{"/Default"}, C::kRun},       {{"--help"}, C::kHelp},
        {{"-h"}, C::kHelp},      {{"--version"}, C::kVersion},  {{"--verbose"}, C::kUnknown},
        {{"x"}, C::kUnknown},    {{"/default", "x"}, C::kUnknown}, {{"--help", "x"}, C::kUnknown},
        {{"--check"}, C::kCheck}, {{"/default", "--check", "m"}, C::kCheck}, {{"m", "--check"}, C::kUnknown},
    };
    for (const auto& [args, command] : lines)
        EXPECT_EQ(CProxyApp::ReadCommandLine(args), command) << args.size();
}

TEST_F(StartupTest, DefaultSwitchReadsOnlyTheConfigurationFolder)
{
    WriteTextFile(Work() + "/Orvelane.ini", "POPServer=here\n");
    ConfigFolder();
    WriteTextFile(Config() + "/Orvelane.ini", "POPServer=there\n");
    CProxyApp app;
    QuietHub(app.m_dialog);
    ASSERT_TRUE(app.InitInstance({"/Default"}));
    EXPECT_EQ(app.m_dialog.Settings().m_strPopServer, "there");
}

TEST_F(StartupTest, OfTwoInstancesOnlyTheOneThatListensOpensTheStore)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();
    WriteTextFile(Work() + "/Orvelane.ini", "ListenAddress=127.0.0.1\nListenPort=" + std::to_string(port) + "\n");
    CMainDialog first, second;
    for (CMainDialog* instance : {&first, &second}) {
        QuietHub(*instance);
        instance->SetMessageBox([](const std::string&, const std::string&) {});
        ASSERT_TRUE(instance->OnInitDialog());
    }
    EXPECT_TRUE(first.Proxy().Listening());
    EXPECT_TRUE(first.MessageStore().IsOpen());
    EXPECT_FALSE(second.Proxy().Listening());
    EXPECT_FALSE(second.MessageStore().IsOpen());
}

TEST(TextFiles, TextModeConvertsLineEnds)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.txt";
    ASSERT_TRUE(WriteTextFile(path, "a\nb\r\n"));
    std::string raw;
    ASSERT_TRUE(ReadBinaryFile(path, raw));
    EXPECT_EQ(raw, "a\r\nb\r\r\n");
    std::string text;
    int64_t length = 0;
    ASSERT_TRUE(ReadTextFile(path, text, &length));
    EXPECT_EQ(text, "a\nb\r\n");
    EXPECT_EQ(length, 7);
    EXPECT_FALSE(ReadTextFile(path + ".missing", text));
}

TEST_F(StartupTest, AMistypedValueGetsALogLineAfterTheLoadingLine)
{
    WriteTextFile(Work() + "/Orvelane.ini", "ServerSecurity=TLS1.2\n");
    hub.ReadSettings();
    EXPECT_TRUE(Log().ends_with("Chargement de " + Work() + "/Orvelane.ini\r\n(09:05:03) Orvelane.ini ligne 1 : "
                                "ServerSecurity=TLS1.2 inconnu (auto, tls, starttls ou none), auto reste en vigueur\r\n"))
        << Log();
    EXPECT_EQ(hub.SettingsPath(), Work() + "/Orvelane.ini");
}
