#include "shell/MainDialog.h"

#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <cstdio>
#include <map>
#include <mutex>

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

CMainDialog::CMainDialog(QObject* parent) : QObject(parent), m_clock(LocalNow)
{
    m_window.size = sizeof(OrvelaneWindow);
    m_window.SendMessage = &CMainDialog::WindowSendMessage;
    m_window.host = this;
    m_nSetLogMessage = RegisterWindowMessage("Set Log");
    m_plugIns.SetWindow(&m_window, m_nSetLogMessage);
    // Hooked before the proxy hooks its connections: the log of a step is
    // written out before the bytes that step sends.
    if (QAbstractEventDispatcher::instance(thread()))
        HookBeforeWaiting();
}

CMainDialog::~CMainDialog()
{
    std::fflush(stdout);
    // Sessions first: their sockets report to this object.
    m_proxy.m_sessions.clear();
    m_proxy.m_processedMails.clear();
}

uint32_t CMainDialog::RegisterWindowMessage(const std::string& name)
{
    static std::mutex lock;
    static std::map<std::string, uint32_t> registry;
    std::lock_guard<std::mutex> guard(lock);
    auto [it, inserted] = registry.try_emplace(name, 0xC000u + static_cast<uint32_t>(registry.size()));
    return it->second;
}

bool CMainDialog::OnInitDialog()
{
    ReadSettings();
    m_log.SetCap(m_nMaxLogSize);

    // The listener.
    OpenListener();

    // The start-up self-test.
    RunSelfTest();

    // The rule file compiled in the background, ready for the first scan.
    if (m_analysis.PreparesAhead())
        m_analysis.RefreshPreparedRules();

    m_progress.Reset();
    return true;
}

void CMainDialog::ReadSettings()
{
    std::string bytes;
    if (!ReadBinaryFile(std::string(txt::kSettingsFileName), bytes)) {
        SetCurrentDirectory(ConfigFolder());
        if (!ReadBinaryFile(std::string(txt::kSettingsFileName), bytes)) {
            AddLog(txt::kSettingsUnreadable, true);
            return;
        }
    }
    AddLog(std::string(txt::kLoading) + CurrentDirectory() + "/" + txt::kSettingsFileName + "\r\n",
           true);
    ParseSettings(bytes, *this);
}

void CMainDialog::ToggleDebug(bool enable)
{
    m_bDebug = enable;
    m_analysis.SetDebug(enable);
    AddLog(enable ? txt::kDebugEnable : txt::kDebugDisable, true);
}

void CMainDialog::AddLog(std::string text, bool truncate)
{
    if (text.empty())
        return;
    text = PrepareLogText(std::move(text), truncate);
    const std::tm now = m_clock();
    const std::string entry = StampLogEntry(text, now.tm_hour, now.tm_min, now.tm_sec);
    m_log.SetCap(m_nMaxLogSize);
    m_log.Append(entry);
    if (m_bEchoLog) {
        std::string out = w1252::ToUtf8(entry);
        std::erase(out, '\r');
        std::fwrite(out.data(), 1, out.size(), stdout);
        ScheduleLogFlush();
    }
}

void CMainDialog::ScheduleLogFlush()
{
    // One flush when the event loop is about to wait, instead of one write
    // to the output per entry: a scan logs several lines per message.
    m_bFlushPending = true;
    HookBeforeWaiting();
}

void CMainDialog::HookBeforeWaiting()
{
    if (m_bFlushHooked)
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    if (!dispatcher) {
        // No loop to wait for: the log is written now.
        m_bFlushPending = false;
        std::fflush(stdout);
        return;
    }
    m_bFlushHooked = true;
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CMainDialog::FlushOutput);
}

void CMainDialog::FlushOutput()
{
    if (m_bFlushPending) {
        m_bFlushPending = false;
        std::fflush(stdout);
    }
}

void CMainDialog::OnSetLog(uintptr_t, intptr_t lParam)
{
    const char* text = reinterpret_cast<const char*>(lParam);
    if (!text)
        return;
    AddLog(std::string(text), true);
}

intptr_t CMainDialog::WindowSendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam)
{
    if (!window || !window->host)
        return 0;
    auto* self = static_cast<CMainDialog*>(window->host);
    if (message != self->m_nSetLogMessage)
        return 0;
    if (QThread::currentThread() == self->thread()) {
        self->OnSetLog(wParam, lParam);
    } else {
        // Another thread: deliver on the event-loop thread and wait, so the
        // sender's text stays valid until it has been copied.
        QMetaObject::invokeMethod(
            self, [self, wParam, lParam] { self->OnSetLog(wParam, lParam); },
            Qt::BlockingQueuedConnection);
    }
    return 0;
}

void CMainDialog::SetTrayIcon(bool busy, bool forceAdd)
{
    if (forceAdd || m_bIconPending) {
        m_tray.m_bVisible = true;
        ++m_tray.m_nAdds;
    }
    m_tray.m_bBusy = busy;
    m_bIconPending = false;
    m_strCaption = txt::kServerBanner;
    if (m_tray.m_onChanged)
        m_tray.m_onChanged();
}

void CMainDialog::MailCheckStarted()
{
    // Without a cap the log holds the current mail check only.
    if (m_nMaxLogSize == 0)
        m_log.Clear();
}

void CMainDialog::ShowStartupMessage(const std::string& text, const std::string& caption)
{
    if (m_messageBox) {
        m_messageBox(text, caption);
        return;
    }
    const std::string out = caption + ": " + w1252::ToUtf8(text) + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}
