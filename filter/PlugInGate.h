// Whether the plug-ins are to be asked about a message, judged ahead of the
// analysis from what the message's preparation read: the built-in filters
// that come before the plug-ins (trust, the earlier tag, the recipient counts,
// the header lists, the two Subject variants and the body passes) decide
// first. The analysis checks the same again with the rule set of its run; the
// judgement ahead only lets the plug-in calls overlap the download.
#pragma once

#include <string>

struct SPreparedAnalysis;
class CCompiledRuleFile;

// True when a built-in filter marks or trusts the message, so that no
// plug-in is asked.
bool BuiltInsDecideAhead(const SPreparedAnalysis& prepared, const CCompiledRuleFile& rules);

// The Subject value, upper case, begins with "_SPAM_" once its leading
// blanks are passed.
bool StartsWithTag(const std::string& subject);
