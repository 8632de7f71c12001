// Writes the activity log: stamps each entry with the local time, shortens
// and masks it, keeps the log within its cap, and echoes it to standard
// output, flushed once per turn of the event loop.
#pragma once

#include "base/LogSink.h"
#include "shell/ActivityLog.h"

#include <QObject>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

class CLogWriter : public QObject, public ILogSink
{
    Q_OBJECT
public:
    // `cap` is read at every entry: the settings may change it.
    explicit CLogWriter(const int32_t& cap);

    void AddLog(std::string text, bool truncate) override;
    CActivityLog& Log() { return m_log; }
    const CActivityLog& Log() const { return m_log; }
    // Echo on standard output (UTF-8); tests switch it off, or send it to
    // another stream.
    void SetEcho(bool echo) { m_bEcho = echo; }
    void SetEchoStream(std::FILE* stream) { m_pEcho = stream; }
    // A failing echo (a full disk under a redirected output) is said once
    // per mail check, in the window's log.
    void NewCheck() { m_bEchoReported = false; }
    // The clock of the stamps; tests pin it.
    void SetClock(std::function<std::tm()> clock) { m_clock = std::move(clock); }
    const std::function<std::tm()>& Clock() const { return m_clock; }

private:
    // Flushes standard output when the event loop is about to wait.
    void HookBeforeWaiting();
    void FlushOutput();
    // The echo could not be written: said in the window's log alone.
    void EchoFailed(int error);

    const int32_t& m_nCap;
    CActivityLog m_log;
    bool m_bEcho = true;
    std::FILE* m_pEcho = stdout;
    bool m_bEchoReported = false;
    std::function<std::tm()> m_clock;
    bool m_bFlushPending = false;
    bool m_bFlushHooked = false;
};
