// The settings file Orvelane.ini: key=value lines naming the POP3 server, the
// size limits and the plug-in libraries. Read once at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The values the settings file can set, with their defaults.
struct CSettings {
    std::string m_strPopServer;
    std::string m_strProxyUserName;
    std::string m_strProxyPassword;
    int32_t m_nMaxMsgSize = 500000; // bytes; the file gives kilobytes
    int32_t m_nMaxLogSize = 0;      // bytes of log kept; 0 = no cap
    int32_t m_nMaxMemoMsg = 100;    // analysed messages remembered
    std::vector<std::string> m_plugInNames;
    // Where the proxy listens. Port 110 needs privileges on Linux, hence the
    // two keys; an empty address means every local address.
    int32_t m_nListenPort = 110;
    std::string m_strListenAddress;
};

// Applies the content of a settings file to `settings`: CRs and spaces removed,
// lines split at LF, key before the first '=', '#' comments, keys compared
// without regard to case, later keys win except PlugIn, which accumulates.
void ParseSettings(std::string_view content, CSettings& settings);
