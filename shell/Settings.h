// The settings file Orvelane.ini: key=value lines naming the POP3 server, the
// size limits and the plug-in libraries. Read once at start-up.
#pragma once

#include "base/SettingsValues.h"

#include <functional>
#include <string>
#include <string_view>

// Applies the content of a settings file to `settings`: CRs and spaces removed,
// lines split at LF, key before the first '=', '#' comments, keys compared
// without regard to case, later keys win except PlugIn, which accumulates.
void ParseSettings(std::string_view content, CSettings& settings);

// Finds the settings file as every run does: in the current directory, else
// in the configuration folder, which then becomes the current directory.
// `searching` is told each folder before it is looked in. True with the
// file's path and bytes; false when neither folder holds a readable one.
bool LocateSettings(const std::function<void(const std::string& folder)>& searching, std::string& path,
                    std::string& bytes);
