// The activity log: time-stamped French entries, shortened to one line on
// request, with passwords masked and the whole log bounded by a cap.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Shortening (when `truncate`) and "PASS " masking of one entry's text.
std::string PrepareLogText(std::string text, bool truncate);

// "(hh:mm:ss) " + text.
std::string StampLogEntry(std::string_view text, int hour, int minute, int second);

// The log's content. Appending costs the length of the entry, not of the log:
// with a cap the content is a window over a buffer that is compacted only when
// the discarded prefix reaches a quarter of the kept part.
class CActivityLog
{
public:
    // What the window keeps without a cap: the standard-output echo has
    // every entry, memory only the newest ones.
    static constexpr size_t kUncappedBytes = size_t(4) << 20;
    // 0 = no cap (the content keeps its last kUncappedBytes characters);
    // otherwise the content keeps its last `cap` characters.
    void SetCap(int32_t cap) { m_nCap = cap; }
    void Append(std::string_view entry);
    void Clear();
    std::string_view Text() const { return std::string_view(m_buffer).substr(m_start); }
    size_t Size() const { return m_buffer.size() - m_start; }

    // Observers for the window: an entry was appended (and the content possibly
    // cut at the front), or the log was emptied.
    std::function<void(std::string_view entry, bool cutAtFront)> m_onAppended;
    std::function<void()> m_onCleared;

private:
    std::string m_buffer;
    size_t m_start = 0;
    int32_t m_nCap = 0;
};
