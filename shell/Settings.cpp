#include "shell/Settings.h"

#include "base/Numbers.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// An unknown word keeps the value before it.
void ReadSecurity(std::string_view value, ServerSecurity& security)
{
    static constexpr std::pair<std::string_view, ServerSecurity> kWords[] = {
        {"auto", ServerSecurity::kAuto},
        {"tls", ServerSecurity::kTls},
        {"starttls", ServerSecurity::kStartTls},
        {"none", ServerSecurity::kNone},
    };
    for (const auto& [word, meaning] : kWords)
        if (w1252::EqualsNoCase(value, word))
            security = meaning;
}

void ApplyLine(std::string_view line, CSettings& s)
{
    const size_t eq = line.find('=');
    const std::string_view key = eq == std::string_view::npos ? line : line.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
    if (key.empty() || key.front() == '#' || eq == std::string_view::npos)
        return;
    if (w1252::EqualsNoCase(key, "POPServer"))
        s.m_strPopServer = value;
    else if (w1252::EqualsNoCase(key, "ProxyUserName"))
        s.m_strProxyUserName = value;
    else if (w1252::EqualsNoCase(key, "ProxyPassword"))
        s.m_strProxyPassword = value;
    else if (w1252::EqualsNoCase(key, "MaxMsgSize"))
        s.m_nMaxMsgSize = MulSaturate32(AtoiSaturating(value), 1024);
    else if (w1252::EqualsNoCase(key, "MaxLogSize")) {
        const int32_t bytes = MulSaturate32(AtoiSaturating(value), 1024);
        s.m_nMaxLogSize = bytes < 0 ? 0 : bytes;
    } else if (w1252::EqualsNoCase(key, "MaxMemoMsg")) {
        const int32_t n = AtoiSaturating(value);
        s.m_nMaxMemoMsg = n < 0 ? 0 : n;
    } else if (w1252::EqualsNoCase(key, "MaxStoreMB")) {
        s.m_nMaxStoreMB = std::max(AtoiSaturating(value), 0);
    } else if (w1252::EqualsNoCase(key, "ScanAnswerSeconds")) {
        s.m_nScanAnswerSeconds = std::max(AtoiSaturating(value), 0);
    } else if (w1252::EqualsNoCase(key, "SpamHeaders")) {
        s.m_bSpamHeaders = AtoiSaturating(value) != 0;
    } else if (w1252::EqualsNoCase(key, "PlugIn"))
        s.m_plugInNames.emplace_back(value);
    else if (w1252::EqualsNoCase(key, "ListenPort"))
        s.m_nListenPort = AtoiSaturating(value);
    else if (w1252::EqualsNoCase(key, "MaxConnections"))
        s.m_nMaxConnections = AtoiSaturating(value);
    else if (w1252::EqualsNoCase(key, "ListenAddress"))
        s.m_strListenAddress = value;
    else if (w1252::EqualsNoCase(key, "ServerSecurity"))
        ReadSecurity(value, s.m_nServerSecurity);
    else if (w1252::EqualsNoCase(key, "ServerCertificate"))
        s.m_strServerCertificate = value;
    else if (w1252::EqualsNoCase(key, "PlugInSeconds"))
        s.m_nPlugInSeconds = std::clamp(AtoiSaturating(value), 1, 3600);
    else if (const size_t dot = key.find('.'); dot != std::string_view::npos && dot > 0 && dot + 1 < key.size())
        s.m_plugInOptions.emplace_back(key, value);
}

} // namespace

void ParseSettings(std::string_view content, CSettings& settings)
{
    std::string cleaned;
    cleaned.reserve(content.size());
    for (char c : content)
        if (c != '\r' && c != ' ')
            cleaned.push_back(c);
    std::string_view rest(cleaned);
    while (true) {
        const size_t lf = rest.find('\n');
        ApplyLine(rest.substr(0, lf), settings);
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
