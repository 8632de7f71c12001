// printf-style formatting into a std::string, for the system's fixed log and
// protocol formats ("N°%d - ", "+OK %d %d\r\n", ...).
#pragma once

#include <string>

[[gnu::format(printf, 1, 2)]] std::string StrFormat(const char* format, ...);
