// The watcher thread: every period it looks for the top-level window titled
// "Connections Tray" and, each time it finds one with a new handle, asks for
// the icon to be added again. It never touches a widget or the hub: what it
// finds goes to the caller's function, which hands it to the UI thread.
// Stopping wakes it at once and waits for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class CTrayWatcher
{
public:
    // `lookup` returns the window's handle, 0 for none; both functions run
    // on the watcher thread.
    CTrayWatcher(std::function<uint64_t()> lookup, std::function<void()> onNewWindow,
                 std::chrono::milliseconds period = std::chrono::milliseconds(5000));
    ~CTrayWatcher();
    CTrayWatcher(const CTrayWatcher&) = delete;
    CTrayWatcher& operator=(const CTrayWatcher&) = delete;

    void Start();
    void Stop();
    bool Running() const { return m_thread.joinable(); }

private:
    void Run();

    std::function<uint64_t()> m_lookup;
    std::function<void()> m_onNewWindow;
    std::chrono::milliseconds m_period;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_bStop = false;
    std::thread m_thread;
};

// The title the watcher looks for.
inline constexpr const char kTrayWindowTitle[] = "Connections Tray";
