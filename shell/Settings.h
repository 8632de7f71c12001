// The settings file Orvelane.ini: key=value lines naming the POP3 server, the
// size limits and the plug-in libraries. Read at start-up; the settings
// dialog writes it (shell/SettingsFile.h) and applies it at once.
#pragma once

#include "base/SettingsValues.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Applies the content of a settings file to `settings`: CRs and spaces removed,
// lines split at LF, key before the first '=', '#' comments, keys compared
// without regard to case, later keys win except PlugIn, which accumulates.
// With `problems`, every line not taken as written (an unknown key, a line
// without '=', a number that is not a whole number or is out of its range,
// an unknown ServerSecurity word) adds one log line there; the values read
// stay what they have always been (atoi's number, the previous word).
void ParseSettings(std::string_view content, CSettings& settings, std::vector<std::string>* problems = nullptr);

// "auto", "tls", "starttls", "none".
const char* SecurityWord(ServerSecurity security);
// One of those words, in any case; false (and `security` unchanged) otherwise.
bool ReadSecurityWord(std::string_view word, ServerSecurity& security);
// An optional sign and at least one digit, nothing else.
bool IsWholeNumber(std::string_view text);

// Finds the settings file as every run does: in the current directory, else
// in the configuration folder, which then becomes the current directory.
// `searching` is told each folder before it is looked in. True with the
// file's path and bytes; false when neither folder holds a readable one.
bool LocateSettings(const std::function<void(const std::string& folder)>& searching, std::string& path,
                    std::string& bytes);
