// Orvelane.ini as the settings dialog edits it: the fields' checks, edits
// that keep the rest of the file byte for byte, the atomic write, and the
// log lines of values the reader does not take as written.
#include "shell/Settings.h"
#include "shell/SettingsFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A self-signed certificate, PEM.
constexpr char kPem[] = "-----BEGIN CERTIFICATE-----\n"
                        "MIIBfTCCASOgAwIBAgIUFIUH32JQzlKftPoAY3RnYfFGNxkwCgYIKoZIzj0EAwIw\n"
                        "FDESMBAGA1UEAwwJbG9jYWxob3N0MB4XDTI2MTIwODA5MzUxNVoXDTM2MTIwNTA5\n"
                        "MzUxNVowFDESMBAGA1UEAwwJbG9jYWxob3N0MFkwEwYHKoZIzj0CAQYIKoZIzj0D\n"
                        "AQcDQgAEkMugYWCGxehzFazT8S/RWXO4w29A1VkpwvAwb9NsG/1I4d4m2saqpybD\n"
                        "nl00GAJ05hTkpgF78rn9ifrZ59cds6NTMFEwHQYDVR0OBBYEFGg+H8iM6d3H7nAy\n"
                        "N3XyBDNUNB+pMB8GA1UdIwQYMBaAFGg+H8iM6d3H7nAyN3XyBDNUNB+pMA8GA1Ud\n"
                        "EwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDSAAwRQIhANzzf9aRq/bwzeRrXKdLVHG0\n"
                        "p8FuGo7kY5FsSTZ4mIf3AiBH4XH36QZO7zPJwBaqaeO/OL42VRUkiwU+b4MRlmGu\n"
                        "DQ==\n"
                        "-----END CERTIFICATE-----\n";

} // namespace

TEST(SettingsForm, EachFieldIsChecked)
{
    QTemporaryDir dir;
    const std::string cert = dir.path().toStdString() + "/ca.pem", notPem = dir.path().toStdString() + "/x.txt";
    std::ofstream(cert) << kPem;
    std::ofstream(notPem) << "hello\n";
    // The plug-ins that exist: "spamd" (installed) and /lib/x.so.
    const auto path = [](const std::string& name) {
        return name == "spamd" || name == "/lib/x.so" ? "/found/" + name : std::string();
    };
    using F = SSettingsForm;
    const struct {
        std::function<void(F&)> change;
        const char* key; // the field refused, or "" when the form is good
    } cases[] = {
        {[](F&) {}, ""},
        {[](F& f) { f.popServer = "pop.example.org"; }, ""},
        {[](F& f) { f.popServer = "pop.example.org:995"; }, ""},
        {[](F& f) { f.popServer = "[2001:db8::1]:110"; }, ""},
        {[](F& f) { f.popServer = "2001:db8::1"; }, ""},
        {[](F& f) { f.popServer = "192.0.2.1:110"; }, ""},
        {[](F& f) { f.popServer = "pop.example.org:0"; }, "POPServer"},
        {[](F& f) { f.popServer = "pop.example.org:70000"; }, "POPServer"},
        {[](F& f) { f.popServer = "pop.example.org:x"; }, "POPServer"},
        {[](F& f) { f.popServer = ":110"; }, "POPServer"},
        {[](F& f) { f.popServer = "::1:110"; }, "POPServer"}, // ambiguous
        {[](F& f) { f.popServer = "[::1"; }, "POPServer"},
        {[](F& f) { f.popServer = "[::1]x"; }, "POPServer"},
        {[](F& f) { f.popServer = "[pop.example.org]:110"; }, "POPServer"},
        {[](F& f) { f.popServer = "pop example.org"; }, "POPServer"},
        {[](F& f) { f.popServer = "pop/example"; }, "POPServer"},
        {[](F& f) { f.security = "starttls"; }, ""},
        {[](F& f) { f.security = "TLS1.2"; }, "ServerSecurity"},
        {[&](F& f) { f.certificate = cert; }, ""},
        {[&](F& f) { f.certificate = notPem; }, "ServerCertificate"},
        {[&](F& f) { f.certificate = cert + ".missing"; }, "ServerCertificate"},
        {[](F& f) { f.listenPort = "1110"; }, ""},
        {[](F& f) { f.listenPort = "65535"; }, ""},
        {[](F& f) { f.listenPort = "0"; }, "ListenPort"},
        {[](F& f) { f.listenPort = "65536"; }, "ListenPort"},
        {[](F& f) { f.listenPort = "11O"; }, "ListenPort"},
        {[](F& f) { f.listenPort = ""; }, "ListenPort"},
        {[](F& f) { f.listenAddress = "0.0.0.0"; }, ""},
        {[](F& f) { f.listenAddress = "::1"; }, ""},
        {[](F& f) { f.listenAddress = "localhost"; }, ""},
        {[](F& f) { f.listenAddress = "my.host"; }, "ListenAddress"},
        {[](F& f) { f.maxMemoMsg = "0"; }, ""},
        {[](F& f) { f.maxMemoMsg = "-1"; }, "MaxMemoMsg"},
        {[](F& f) { f.maxStoreMB = "1048577"; }, "MaxStoreMB"},
        {[](F& f) { f.scanAnswerSeconds = "30s"; }, "ScanAnswerSeconds"},
        {[](F& f) { f.maxMsgSize = "2097151"; }, ""},
        {[](F& f) { f.maxMsgSize = "2097152"; }, "MaxMsgSize"},
        {[](F& f) { f.maxMsgSize = "99999999999999"; }, "MaxMsgSize"},
        {[](F& f) { f.plugIns = {"spamd", "/lib/x.so"}; }, ""},
        {[](F& f) { f.plugIns = {"spamdd"}; }, "PlugIn"},
        {[](F& f) { f.plugIns = {""}; }, "PlugIn"},
        {[](F& f) { f.plugIns = {"spamd"}, f.options = {{"spamd.Address", "127.0.0.1:783"}}; }, ""},
        {[](F& f) { f.plugIns = {"/lib/x.so"}, f.options = {{"X.Mode", "1"}}; }, ""},
        {[](F& f) { f.plugIns = {"spamd"}, f.options = {{"spmad.Address", "1"}}; }, "Options"},
        {[](F& f) { f.plugIns = {"spamd"}, f.options = {{"spamd.", "1"}}; }, "Options"},
        {[](F& f) { f.plugIns = {"spamd"}, f.options = {{"spamd.Address", "a b"}}; }, "Options"},
    };
    for (const auto& c : cases) {
        SSettingsForm form;
        c.change(form);
        const std::vector<SFormProblem> problems = CheckForm(form, path);
        if (*c.key == 0) {
            EXPECT_TRUE(problems.empty()) << problems.front().key << ": " << problems.front().message;
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << c.key;
        EXPECT_EQ(problems[0].key, c.key) << problems[0].message;
        EXPECT_FALSE(problems[0].message.empty());
    }
}

TEST(SettingsForm, EditsKeepTheRestOfTheFile)
{
    const struct {
        const char* before;
        std::function<void(SSettingsForm&)> change;
        const char* after;
    } cases[] = {
        // Nothing changed: not a byte moves, not even a value spelt otherwise.
        {"# mine\r\n\r\nlisten port = 0110\r\nFoo=bar\r\n", [](SSettingsForm&) {}, "# mine\r\n\r\nlisten port = 0110\r\nFoo=bar\r\n"},
        // A value changed in place, key and blanks as written; a new key at the end.
        {"# mine\r\nlisten port = 110\r\nFoo=bar\r\n",
         [](SSettingsForm& f) { f.listenPort = "1110", f.popServer = "pop.example.org"; },
         "# mine\r\nlisten port = 1110\r\nFoo=bar\r\nPOPServer=pop.example.org\r\n"},
        // The last of two lines is the one read, and the one changed.
        {"MaxMemoMsg=5\nMaxMemoMsg=6\n", [](SSettingsForm& f) { f.maxMemoMsg = "7"; }, "MaxMemoMsg=5\nMaxMemoMsg=7\n"},
        // The file's own line ends, also after a last line without one.
        {"Foo=1\nBar=2", [](SSettingsForm& f) { f.spamHeaders = true; }, "Foo=1\nBar=2\nSpamHeaders=1\n"},
        // A file without a line end at all: Windows ones, as a new file.
        {"Foo=1", [](SSettingsForm& f) { f.spamHeaders = true; }, "Foo=1\r\nSpamHeaders=1\r\n"},
        // A mistyped value the reader did not take is written as it is read.
        {"ServerSecurity=TLS1.2\nMaxStoreMB=12abc\n", [](SSettingsForm&) {}, "ServerSecurity=auto\nMaxStoreMB=12\n"},
        // Plug-ins: kept lines stay, the removed one goes, a new one follows its predecessor.
        {"PlugIn=a\n# b next\nPlugIn=b\nPlugIn=c\nX=1\n", [](SSettingsForm& f) { f.plugIns = {"a", "c", "d"}; },
         "PlugIn=a\n# b next\nPlugIn=c\nPlugIn=d\nX=1\n"},
        {"PlugIn=a\n", [](SSettingsForm& f) { f.plugIns = {"z", "a"}; }, "PlugIn=z\nPlugIn=a\n"},
        {"PlugIn=a\nPlugIn=b\n", [](SSettingsForm& f) { f.plugIns = {}; }, ""},
        // Options: one changed in place, one taken out, one added.
        {"PlugIn=spamd\nspamd.Address=a\nspamd.Old=1\n",
         [](SSettingsForm& f) { f.options = {{"spamd.Address", "b"}, {"spamd.New", "2"}}; },
         "PlugIn=spamd\nspamd.Address=b\nspamd.New=2\n"},
        // A new file gets Windows line ends, as every file written here.
        {"", [](SSettingsForm& f) { f.listenPort = "1110"; }, "ListenPort=1110\r\n"},
    };
    for (const auto& c : cases) {
        CSettingsFile file(c.before);
        SSettingsForm form = ReadForm(file);
        c.change(form);
        StoreForm(form, file);
        EXPECT_EQ(file.Bytes(), c.after) << c.before;
    }
}

TEST(SettingsForm, WriteReplacesTheFileWhole)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/Orvelane.ini";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "A=1\r\n", error)) << error;
    struct stat info{};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u); // a new file: its owner's alone
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(WriteFileAtomically(path, "A=2\r\n", error)) << error;
    EXPECT_EQ(Read(path), "A=2\r\n");
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u); // an existing file keeps its mode
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary left
    EXPECT_FALSE(WriteFileAtomically(dir.path().toStdString() + "/missing/Orvelane.ini", "x", error));
    EXPECT_FALSE(error.empty());
}

TEST(SettingsForm, ValuesNotTakenAsWrittenAreLogged)
{
    const struct {
        const char* text;
        const char* line; // "" for none
    } cases[] = {
        {"ServerSecurity=tls\nPOPServer=h\n# x=1\n\n", ""},
        {"ServerSecurity=starttls\nServerSecurity=TLS1.2\n",
         "Orvelane.ini ligne 2 : ServerSecurity=TLS1.2 inconnu (auto, tls, starttls ou none), starttls reste en "
         "vigueur\r\n"},
        {"MaxMemoMsg=abc\n", "Orvelane.ini ligne 1 : MaxMemoMsg=abc n'est pas un nombre entier, lu comme 0\r\n"},
        {"MaxMemoMsg=12abc\n", "Orvelane.ini ligne 1 : MaxMemoMsg=12abc n'est pas un nombre entier, lu comme 12\r\n"},
        {"SpamHeaders=yes\n", "Orvelane.ini ligne 1 : SpamHeaders=yes n'est pas un nombre entier, lu comme 0\r\n"},
        {"MaxMemoMsg=-3\n",
         "Orvelane.ini ligne 1 : MaxMemoMsg=-3 hors des limites 0 \xE0 2147483647, ramen\xE9 \xE0 0\r\n"},
        {"PlugInSeconds=0\n", "Orvelane.ini ligne 1 : PlugInSeconds=0 hors des limites 1 \xE0 3600, ramen\xE9 \xE0 1\r\n"},
        {"MaxLogSize=99999999999\n",
         "Orvelane.ini ligne 1 : MaxLogSize=99999999999 hors des limites 0 \xE0 2097151, ramen\xE9 \xE0 2097151\r\n"},
        {"ListenPort=70000\n", "Orvelane.ini ligne 1 : ListenPort=70000 n'est pas un port (1 \xE0 65535)\r\n"},
        {"\r\nPopServr=h\r\n", "Orvelane.ini ligne 2 : cl\xE9 PopServr inconnue, ligne ignor\xE9" "e\r\n"},
        {"MaxMemoMsg\n", "Orvelane.ini ligne 1 : \xAB MaxMemoMsg \xBB sans \xAB = \xBB, ligne ignor\xE9" "e\r\n"},
        {"spamd.Address=127.0.0.1:783\n", ""}, // a plug-in's option
    };
    for (const auto& c : cases) {
        CSettings settings;
        std::vector<std::string> problems;
        ParseSettings(c.text, settings, &problems);
        if (*c.line == 0) {
            EXPECT_TRUE(problems.empty()) << c.text << problems.front();
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << c.text;
        EXPECT_EQ(problems[0], c.line);
    }
    // The values read are those of before.
    CSettings s;
    ParseSettings("ServerSecurity=tls\nServerSecurity=TLS1.2\nMaxMemoMsg=12abc\n", s);
    EXPECT_EQ(s.m_nServerSecurity, ServerSecurity::kTls);
    EXPECT_EQ(s.m_nMaxMemoMsg, 12);
}
