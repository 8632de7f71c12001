// Keeps the shown log text in step with the activity log at the cost of one
// entry per append, however long the log: the view shows the log without its
// carriage returns, so when the cap cuts bytes at the log's front the view
// must know how many of its characters they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

class CLogMirror
{
public:
    // `entry` was appended and the log now holds `logSize` bytes. Returns how
    // many characters to remove from the front of the shown text.
    size_t Append(std::string_view entry, size_t logSize);
    void Clear();
    // Characters shown: the log's bytes without its carriage returns.
    size_t ShownChars() const { return m_nChars; }

private:
    struct SEntry {
        size_t bytes = 0;
        std::vector<uint32_t> crs; // offsets of its carriage returns
        size_t nextCr = 0;         // first of them not yet cut away
    };
    std::deque<SEntry> m_entries;
    size_t m_nFrontCut = 0; // bytes of the first entry already cut away
    size_t m_nBytes = 0;
    size_t m_nChars = 0;
};
