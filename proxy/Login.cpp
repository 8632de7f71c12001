#include "proxy/Login.h"

#include "base/Numbers.h"

#include <algorithm>
#include <arpa/inet.h>

namespace {

bool IsV6Address(std::string_view text)
{
    in6_addr address{};
    return inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

} // namespace

bool SplitServerName(std::string_view server, std::string& host, int32_t& port, bool* ambiguous)
{
    if (ambiguous)
        *ambiguous = false;
    // "[v6 address]" or "[v6 address]:port".
    if (server.starts_with('[')) {
        const size_t close = server.find(']');
        if (close != std::string_view::npos) {
            host = std::string(server.substr(1, close - 1));
            if (close + 1 < server.size() && server[close + 1] == ':') {
                port = AtoiSaturating(server.substr(close + 2));
                return true;
            }
            return false;
        }
    }
    const size_t colon = server.find(':');
    // No colon, or more than one: a host name, or a v6 address without a port.
    if (colon == std::string_view::npos || server.find(':', colon + 1) != std::string_view::npos) {
        host = std::string(server);
        if (ambiguous && colon != std::string_view::npos) {
            const size_t last = server.rfind(':');
            const std::string_view tail = server.substr(last + 1);
            *ambiguous = !tail.empty() && tail.find_first_not_of("0123456789") == std::string_view::npos &&
                         IsV6Address(server.substr(0, last));
        }
        return false;
    }
    host = std::string(server.substr(0, colon));
    port = AtoiSaturating(server.substr(colon + 1));
    return true;
}

CUserLine ParseUserLine(std::string_view text)
{
    CUserLine user;
    const size_t lf = text.find('\n');
    const size_t open = text.find('(');
    const size_t close = text.find(')');
    if (open != std::string_view::npos && close != std::string_view::npos) {
        user.namesServer = true;
        const std::string_view server =
            close > open ? text.substr(open + 1, close - open - 1) : std::string_view();
        user.hasPort = SplitServerName(server, user.host, user.port, &user.ambiguous);
        size_t end = open;
        while (end > 0 && text[end - 1] == ' ')
            --end;
        user.line = std::string(text.substr(0, end)) + "\r\n";
        // Client lines after the USER line in the same unit are kept for
        // their turn rather than cut off with what follows ")".
        if (lf != std::string_view::npos && lf > open && lf > close && lf + 1 < text.size())
            user.rest = std::string(text.substr(lf + 1));
    } else {
        user.line = std::string(text);
    }
    // The user name for the account key, from the line that goes out.
    std::string_view name = user.line;
    const size_t nameEnd = name.find_first_of("\r\n");
    if (nameEnd != std::string_view::npos)
        name = name.substr(0, nameEnd);
    name.remove_prefix(std::min<size_t>(4, name.size()));
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
        name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    user.userName = std::string(name);
    return user;
}

std::optional<std::pair<std::string, std::string>> SplitPlainCredentials(std::string_view message)
{
    const size_t first = message.find('\0');
    if (first == std::string_view::npos)
        return std::nullopt;
    const size_t second = message.find('\0', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    std::string user(message.substr(first + 1, second - first - 1));
    std::string password(message.substr(second + 1));
    if (user.empty())
        user = std::string(message.substr(0, first)); // only an authorisation identity
    if (user.empty())
        return std::nullopt;
    return std::make_pair(std::move(user), std::move(password));
}

bool IsSafeCredential(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}
