#include "ui/UiText.h"

#include "base/Win1252.h"

namespace ui {

QString Text(std::string_view bytes)
{
    return w1252::ToQString(bytes);
}

QString PaneText(std::string_view bytes)
{
    std::string lines;
    lines.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                continue;
            lines.push_back('\n');
        } else {
            lines.push_back(bytes[i]);
        }
    }
    return w1252::ToQString(lines);
}

std::string Bytes(const QString& text)
{
    return w1252::FromQString(text);
}

} // namespace ui
