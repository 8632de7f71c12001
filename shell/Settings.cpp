#include "shell/Settings.h"

#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

constexpr std::pair<std::string_view, ServerSecurity> kSecurityWords[] = {
    {"auto", ServerSecurity::kAuto},
    {"tls", ServerSecurity::kTls},
    {"starttls", ServerSecurity::kStartTls},
    {"none", ServerSecurity::kNone},
};

// The numeric keys: the file values read as written (outside them the value
// is clamped, or for the port, cannot be listened on), and where the value
// goes. Every number is read as atoi reads it.
struct SNumberKey {
    std::string_view key;
    int32_t low, high;
    void (*store)(CSettings&, int32_t);
};
constexpr SNumberKey kNumberKeys[] = {
    {"MaxMsgSize", -2097152, 2097151, [](CSettings& s, int32_t n) { s.m_nMaxMsgSize = MulSaturate32(n, 1024); }},
    {"MaxLogSize", 0, 2097151,
     [](CSettings& s, int32_t n) { s.m_nMaxLogSize = std::max(MulSaturate32(n, 1024), 0); }},
    {"MaxMemoMsg", 0, kMax32, [](CSettings& s, int32_t n) { s.m_nMaxMemoMsg = std::max(n, 0); }},
    {"MaxStoreMB", 0, kMax32, [](CSettings& s, int32_t n) { s.m_nMaxStoreMB = std::max(n, 0); }},
    {"ScanAnswerSeconds", 0, kMax32, [](CSettings& s, int32_t n) { s.m_nScanAnswerSeconds = std::max(n, 0); }},
    {"SpamHeaders", kMin32, kMax32, [](CSettings& s, int32_t n) { s.m_bSpamHeaders = n != 0; }},
    {"ListenPort", 0, 65535, [](CSettings& s, int32_t n) { s.m_nListenPort = n; }},
    {"MaxConnections", kMin32, kMax32, [](CSettings& s, int32_t n) { s.m_nMaxConnections = n; }},
    {"PlugInSeconds", 1, 3600, [](CSettings& s, int32_t n) { s.m_nPlugInSeconds = std::clamp(n, 1, 3600); }},
};

// Shown in a log line: at most 60 bytes, control characters as '?'.
std::string Shown(std::string_view text)
{
    std::string shown(text.substr(0, 60));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '?';
    if (text.size() > 60)
        shown += "...";
    return shown;
}

class CReader
{
public:
    CReader(CSettings& s, std::vector<std::string>* problems) : m_s(s), m_problems(problems) {}

    void Line(std::string_view line, int32_t number)
    {
        m_nLine = number;
        const size_t eq = line.find('=');
        const std::string_view key = eq == std::string_view::npos ? line : line.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
        if (!key.empty() && key.front() == '#')
            return;
        if (eq == std::string_view::npos) {
            // Blank lines (tabs count as blank here) say nothing.
            if (line.find_first_not_of('\t') != std::string_view::npos)
                Problem(StrFormat(txt::kSettingsNoEquals, m_nLine, Shown(line).c_str()));
            return;
        }
        if (key.empty()) {
            Problem(StrFormat(txt::kSettingsUnknownKey, m_nLine, "\"\""));
            return;
        }
        if (w1252::EqualsNoCase(key, "POPServer"))
            m_s.m_strPopServer = value;
        else if (w1252::EqualsNoCase(key, "ProxyUserName"))
            m_s.m_strProxyUserName = value;
        else if (w1252::EqualsNoCase(key, "ProxyPassword"))
            m_s.m_strProxyPassword = value;
        else if (w1252::EqualsNoCase(key, "PlugIn"))
            m_s.m_plugInNames.emplace_back(value);
        else if (w1252::EqualsNoCase(key, "ListenAddress"))
            m_s.m_strListenAddress = value;
        else if (w1252::EqualsNoCase(key, "ServerSecurity"))
            Security(value);
        else if (w1252::EqualsNoCase(key, "ServerCertificate"))
            m_s.m_strServerCertificate = value;
        else if (const SNumberKey* number = FindNumberKey(key))
            Number(*number, value);
        else if (const size_t dot = key.find('.'); dot != std::string_view::npos && dot > 0 && dot + 1 < key.size())
            m_s.m_plugInOptions.emplace_back(key, value);
        else
            Problem(StrFormat(txt::kSettingsUnknownKey, m_nLine, Shown(key).c_str()));
    }

private:
    static const SNumberKey* FindNumberKey(std::string_view key)
    {
        for (const SNumberKey& entry : kNumberKeys)
            if (w1252::EqualsNoCase(key, entry.key))
                return &entry;
        return nullptr;
    }

    // An unknown word keeps the value before it.
    void Security(std::string_view value)
    {
        if (!ReadSecurityWord(value, m_s.m_nServerSecurity))
            Problem(StrFormat(txt::kSettingsUnknownWord, m_nLine, "ServerSecurity", Shown(value).c_str(),
                              SecurityWord(m_s.m_nServerSecurity)));
    }

    void Number(const SNumberKey& entry, std::string_view value)
    {
        const int32_t n = AtoiSaturating(value);
        entry.store(m_s, n);
        const std::string key(entry.key);
        if (!IsWholeNumber(value))
            Problem(StrFormat(txt::kSettingsNotNumber, m_nLine, key.c_str(), Shown(value).c_str(), n));
        else if (entry.key == "ListenPort" && (n < entry.low || n > entry.high))
            Problem(StrFormat(txt::kSettingsBadPort, m_nLine, key.c_str(), Shown(value).c_str()));
        else if (n < entry.low || n > entry.high || Overflows(value))
            Problem(StrFormat(txt::kSettingsOutOfRange, m_nLine, key.c_str(), Shown(value).c_str(), entry.low,
                              entry.high, std::clamp(n, entry.low, entry.high)));
    }

    // A whole number past the 32-bit range (atoi saturates there).
    static bool Overflows(std::string_view value)
    {
        const bool negative = value.front() == '-';
        if (value.front() == '+' || negative)
            value.remove_prefix(1);
        value.remove_prefix(std::min(value.find_first_not_of('0'), value.size()));
        if (value.size() > 10)
            return true;
        int64_t n = 0;
        for (char c : value)
            n = n * 10 + (c - '0');
        return negative ? -n < kMin32 : n > kMax32;
    }

    void Problem(std::string line)
    {
        if (m_problems)
            m_problems->push_back(std::move(line));
    }

    CSettings& m_s;
    std::vector<std::string>* m_problems;
    int32_t m_nLine = 0;
};

} // namespace

const char* SecurityWord(ServerSecurity security)
{
    for (const auto& [word, meaning] : kSecurityWords)
        if (meaning == security)
            return word.data();
    return "auto";
}

bool ReadSecurityWord(std::string_view word, ServerSecurity& security)
{
    for (const auto& [known, meaning] : kSecurityWords)
        if (w1252::EqualsNoCase(word, known)) {
            security = meaning;
            return true;
        }
    return false;
}

bool IsWholeNumber(std::string_view text)
{
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

void ParseSettings(std::string_view content, CSettings& settings, std::vector<std::string>* problems)
{
    std::string cleaned;
    cleaned.reserve(content.size());
    for (char c : content)
        if (c != '\r' && c != ' ')
            cleaned.push_back(c);
    CReader reader(settings, problems);
    std::string_view rest(cleaned);
    for (int32_t number = 1;; ++number) {
        const size_t lf = rest.find('\n');
        reader.Line(rest.substr(0, lf), number);
        if (lf == std::string_view::npos)
            break;
        rest.remove_prefix(lf + 1);
    }
}

bool LocateSettings(const std::function<void(const std::string& folder)>& searching, std::string& path,
                    std::string& bytes)
{
    searching(CurrentDirectory());
    path = FindFile(CurrentDirectory(), txt::kSettingsFileName);
    if (ReadBinaryFile(path, bytes))
        return true;
    SetCurrentDirectory(ConfigFolder());
    searching(CurrentDirectory());
    path = FindFile(CurrentDirectory(), txt::kSettingsFileName);
    return ReadBinaryFile(path, bytes);
}
