// The values the settings file Orvelane.ini can set, with their defaults.
// Every component reads them from here; shell/Settings.h reads the file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// How the connection to the POP3 server is protected (ServerSecurity):
// auto: implicit TLS on port 995, else STLS when the server offers it, else
// plain; tls: implicit TLS; starttls: STLS or nothing; none: plain.
enum class ServerSecurity { kAuto, kTls, kStartTls, kNone };

struct CSettings {
    std::string m_strPopServer;
    std::string m_strProxyUserName;
    std::string m_strProxyPassword;
    int32_t m_nMaxMsgSize = 500000; // bytes; the file gives kilobytes
    int32_t m_nMaxLogSize = 0;      // bytes of log kept; 0 = no cap
    int32_t m_nMaxMemoMsg = 100;    // analysed messages remembered
    // Megabytes of message text kept on disk across runs; 0: none kept.
    int32_t m_nMaxStoreMB = 1024;
    // Seconds a scan may run before the client is answered with the messages
    // finished so far; 0: the client waits for the whole mailbox.
    int32_t m_nScanAnswerSeconds = 30;
    // Spam also gets the fields X-Spam-Flag and X-Orvelane-Reason in its
    // header (SpamHeaders); off, a spam is changed by its Subject tag alone.
    bool m_bSpamHeaders = false;
    std::vector<std::string> m_plugInNames;
    // Seconds a plug-in call may take before it counts as "not judged".
    int32_t m_nPlugInSeconds = 10;
    // The plug-ins' own lines, "<name>.<key>" and value, in file order.
    std::vector<std::pair<std::string, std::string>> m_plugInOptions;
    // Where the proxy listens. Port 110 needs privileges on Linux, hence the
    // two keys; an empty address means the loopback address 127.0.0.1.
    int32_t m_nListenPort = 110;
    // Mail-client connections open at once; 0 or less: no bound.
    int32_t m_nMaxConnections = 64;
    std::string m_strListenAddress;
    ServerSecurity m_nServerSecurity = ServerSecurity::kAuto;
    // A PEM file of certificates trusted besides the system's (ServerCertificate).
    std::string m_strServerCertificate;
};
