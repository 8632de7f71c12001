#include "ui/LogMirror.h"

size_t CLogMirror::Append(std::string_view entry, size_t logSize)
{
    SEntry added;
    added.bytes = entry.size();
    for (size_t i = 0; i < entry.size(); ++i)
        if (entry[i] == '\r')
            added.crs.push_back(static_cast<uint32_t>(i));
    m_nBytes += entry.size();
    m_nChars += entry.size() - added.crs.size();
    m_entries.push_back(std::move(added));

    size_t cut = m_nBytes > logSize ? m_nBytes - logSize : 0;
    size_t dropped = 0;
    while (cut > 0 && !m_entries.empty()) {
        SEntry& front = m_entries.front();
        const size_t left = front.bytes - m_nFrontCut;
        const size_t take = cut < left ? cut : left;
        const size_t end = m_nFrontCut + take;
        size_t crs = 0;
        while (front.nextCr < front.crs.size() && front.crs[front.nextCr] < end) {
            ++front.nextCr;
            ++crs;
        }
        dropped += take - crs;
        m_nBytes -= take;
        cut -= take;
        if (take == left) {
            m_entries.pop_front();
            m_nFrontCut = 0;
        } else {
            m_nFrontCut = end;
        }
    }
    m_nChars -= dropped;
    return dropped;
}

void CLogMirror::Clear()
{
    m_entries.clear();
    m_nFrontCut = 0;
    m_nBytes = 0;
    m_nChars = 0;
}
