// The settings file Orvelane.ini: key=value lines naming the POP3 server, the
// size limits and the plug-in libraries. Read once at start-up.
#pragma once

#include "base/SettingsValues.h"

#include <string_view>

// Applies the content of a settings file to `settings`: CRs and spaces removed,
// lines split at LF, key before the first '=', '#' comments, keys compared
// without regard to case, later keys win except PlugIn, which accumulates.
void ParseSettings(std::string_view content, CSettings& settings);
