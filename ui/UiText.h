// Texts of the system (Windows-1252 bytes) put on screen, and text typed in
// the windows taken back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace ui {

// For labels and captions.
QString Text(std::string_view bytes);
// For text panes: CR LF and lone CRs become line feeds.
QString PaneText(std::string_view bytes);
std::string Bytes(const QString& text);

} // namespace ui
