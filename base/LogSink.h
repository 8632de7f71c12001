// Where log lines go. The activity log is one sink; a capture is another, for
// work done away from the event-loop thread whose lines are written later, in
// their place.
#pragma once

#include <string>
#include <utility>
#include <vector>

class ILogSink
{
public:
    virtual ~ILogSink() = default;
    // One entry: a text and the one-line (truncate) flag.
    virtual void AddLog(std::string text, bool truncate) = 0;
};

// Keeps the entries in order until they are replayed into a real sink.
class CCapturedLog final : public ILogSink
{
public:
    using Entry = std::pair<std::string, bool>;

    void AddLog(std::string text, bool truncate) override { m_entries.emplace_back(std::move(text), truncate); }
    // Writes every entry to `sink`, in order, and empties the capture.
    void ReplayTo(ILogSink& sink)
    {
        for (Entry& entry : m_entries)
            sink.AddLog(std::move(entry.first), entry.second);
        m_entries.clear();
    }
    const std::vector<Entry>& Entries() const { return m_entries; }
    void Clear() { m_entries.clear(); }
    bool operator==(const CCapturedLog& other) const { return m_entries == other.m_entries; }

private:
    std::vector<Entry> m_entries;
};
