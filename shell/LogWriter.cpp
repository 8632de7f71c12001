#include "shell/LogWriter.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <QAbstractEventDispatcher>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::tm LocalNow()
{
    // Converted once per second: a busy scan logs thousands of lines in one.
    thread_local std::time_t last = -1;
    thread_local std::tm local{};
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        localtime_r(&now, &local);
        last = now;
    }
    return local;
}

} // namespace

CLogWriter::CLogWriter(const int32_t& cap) : m_nCap(cap), m_clock(LocalNow)
{
    // Hooked before the proxy hooks its connections: the log of a step is
    // written out before the bytes that step sends.
    if (QAbstractEventDispatcher::instance(thread()))
        HookBeforeWaiting();
}

void CLogWriter::AddLog(std::string text, bool truncate)
{
    if (text.empty())
        return;
    text = PrepareLogText(std::move(text), truncate);
    const std::tm now = m_clock();
    const std::string entry = StampLogEntry(text, now.tm_hour, now.tm_min, now.tm_sec);
    m_log.SetCap(m_nCap);
    m_log.Append(entry);
    if (m_bEcho) {
        std::string out = w1252::ToUtf8(entry);
        std::erase(out, '\r');
        if (std::fwrite(out.data(), 1, out.size(), m_pEcho) != out.size())
            EchoFailed(errno);
        // One flush when the event loop is about to wait, instead of one
        // write per entry: a scan logs several lines per message.
        m_bFlushPending = true;
        HookBeforeWaiting();
    }
}

void CLogWriter::HookBeforeWaiting()
{
    if (m_bFlushHooked)
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    if (!dispatcher) {
        // No loop to wait for: the log is written now.
        FlushOutput();
        return;
    }
    m_bFlushHooked = true;
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CLogWriter::FlushOutput);
}

void CLogWriter::FlushOutput()
{
    if (m_bFlushPending) {
        m_bFlushPending = false;
        if (std::fflush(m_pEcho) != 0)
            EchoFailed(errno);
    }
}

void CLogWriter::EchoFailed(int error)
{
    // The stream is tried again at the next entry; what it lost is lost.
    std::clearerr(m_pEcho);
    if (m_bEchoReported)
        return;
    m_bEchoReported = true;
    const std::tm now = m_clock();
    m_log.Append(StampLogEntry(StrFormat(txt::kLogEchoFailed, std::strerror(error)), now.tm_hour, now.tm_min,
                               now.tm_sec));
}
