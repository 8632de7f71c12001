#include "shell/ActivityLog.h"

#include "base/Format.h"
#include "base/Texts.h"

std::string PrepareLogText(std::string text, bool truncate)
{
    if (truncate) {
        const int64_t n = static_cast<int64_t>(text.size());
        const size_t lf = text.find('\n');
        const int64_t p = lf == std::string::npos ? 120 : static_cast<int64_t>(lf);
        if (p < n - 2) {
            // Keep the characters before the line feed but the last one (the CR).
            const size_t keep = p > 0 ? static_cast<size_t>(p - 1) : 0;
            text.resize(keep);
            text += txt::kLogShortened;
        }
    }
    const size_t pass = text.find(txt::kLogPassword);
    if (pass != std::string::npos) {
        text.resize(pass);
        text += txt::kLogPasswordMasked;
    }
    return text;
}

std::string StampLogEntry(std::string_view text, int hour, int minute, int second)
{
    auto inRange = [](int v) { return v >= 0 && v <= 99; };
    if (!inRange(hour) || !inRange(minute) || !inRange(second)) {
        std::string entry = StrFormat("(%.2d:%.2d:%.2d) ", hour, minute, second);
        entry.append(text);
        return entry;
    }
    // The usual case without the formatting machinery: every entry has one.
    std::string entry;
    entry.reserve(11 + text.size());
    const int fields[] = {hour, minute, second};
    entry.push_back('(');
    for (int i = 0; i < 3; ++i) {
        entry.push_back(static_cast<char>('0' + fields[i] / 10));
        entry.push_back(static_cast<char>('0' + fields[i] % 10));
        entry.push_back(i < 2 ? ':' : ')');
    }
    entry.push_back(' ');
    entry.append(text);
    return entry;
}

void CActivityLog::Append(std::string_view entry)
{
    m_buffer.append(entry);
    bool cut = false;
    const size_t bound = m_nCap > 0 ? static_cast<size_t>(m_nCap) : kUncappedBytes;
    if (Size() > bound) {
        m_start = m_buffer.size() - bound;
        cut = true;
        // Compacted once the discarded prefix is a quarter of what is kept:
        // the buffer stays near the bound.
        if (m_start > bound / 4) {
            m_buffer.erase(0, m_start);
            m_start = 0;
        }
    }
    if (m_onAppended)
        m_onAppended(entry, cut);
}

void CActivityLog::Clear()
{
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_start = 0;
    if (m_onCleared)
        m_onCleared();
}
