// The PATH arguments of the commands that read mail files (--check,
// --learn-spam, --learn-ham).
#pragma once

#include <string>
#include <vector>

// Each PATH by its full name, since finding the settings may change the
// current directory before the files are read. Every PATH is looked at
// first: an unreadable one gets a line on standard error, then `nothing`
// ("orvelane: nothing was ...") ends the list, and the result is false.
bool ResolveMailPaths(const std::vector<std::string>& paths, const char* nothing, std::vector<std::string>* full);
