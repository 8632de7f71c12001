#include "ui/TrayWatcher.h"

CTrayWatcher::CTrayWatcher(std::function<uint64_t()> lookup, std::function<void()> onNewWindow,
                           std::chrono::milliseconds period)
    : m_lookup(std::move(lookup)), m_onNewWindow(std::move(onNewWindow)), m_period(period)
{
}

CTrayWatcher::~CTrayWatcher()
{
    Stop();
}

void CTrayWatcher::Start()
{
    if (m_thread.joinable())
        return;
    m_bStop = false;
    m_thread = std::thread([this] { Run(); });
}

void CTrayWatcher::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CTrayWatcher::Run()
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_bStop) {
        guard.unlock();
        const uint64_t found = m_lookup ? m_lookup() : 0;
        if (found != 0 && found != seen) {
            seen = found;
            if (m_onNewWindow)
                m_onNewWindow();
        }
        guard.lock();
        m_wake.wait_for(guard, m_period, [this] { return m_bStop; });
    }
}
