// The login forms the proxy understands: the USER line, whose user name may
// name the POP3 server ("name(host:port)"), and the AUTH LOGIN and AUTH PLAIN
// exchanges, whose credentials travel in base64.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct CUserLine {
    std::string line;      // the text to send the server, "USER name\r\n" (or the unit)
    std::string userName;  // the name alone, for the account key
    bool namesServer = false;
    std::string host;      // set when namesServer
    int32_t port = 0;      // set when namesServer and a port is given
    bool hasPort = false;
    bool ambiguous = false; // the name may be read with or without a port (see SplitServerName)
    std::string rest;      // client lines that followed the USER line in its unit
};

// "host", "host:port", "[v6 address]" or "[v6 address]:port": the host, and
// the port when one is given (true). A v6 address without brackets is the
// host, unless its last group could also be a port after a shorter address
// ("::1:23290", "2001:db8::1:110"): then *ambiguous is set, and the name
// must not be used.
bool SplitServerName(std::string_view server, std::string& host, int32_t& port, bool* ambiguous = nullptr);

// Reads a client text that begins with USER. When it holds "(" and ")", the
// text between the first "(" and the first ")" names the server ("host" or
// "host:port"); the line for the server is the text before "(" without the
// blanks before it, plus CR LF. Otherwise the whole text goes to the server.
CUserLine ParseUserLine(std::string_view text);

// AUTH PLAIN's message: [authzid] NUL authcid NUL password. Nothing when it
// is not of that form.
std::optional<std::pair<std::string, std::string>> SplitPlainCredentials(std::string_view message);

// True when a credential can be put on a POP3 command line (no CR, LF, NUL).
bool IsSafeCredential(std::string_view text);
