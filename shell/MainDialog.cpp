#include "shell/MainDialog.h"

#include "proxy/Sockets.h"
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
}

CMainDialog::~CMainDialog()
{
    std::fflush(stdout);
    // Sessions first: their sockets report to this object.
    m_sessions.clear();
    m_processedMails.clear();
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
        // No loop to wait for: the log is written now, and the connections
        // keep their own way of writing out.
        m_bFlushPending = false;
        std::fflush(stdout);
        m_pendingSockets.clear();
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
    // A flush may end a connection and with it a session, whose handling
    // may send again: the list is taken first, and gone sockets are null.
    std::vector<QPointer<CClientSocket>> sockets;
    sockets.swap(m_pendingSockets);
    for (const QPointer<CClientSocket>& socket : sockets)
        if (socket)
            socket->Flush();
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

CSession* CMainDialog::SessionOfSocket(const CClientSocket* socket, int32_t* index)
{
    int32_t i = 1;
    for (CSession* session : m_sessions) {
        if (socket && (session->m_pClient.get() == socket || session->m_pServer.get() == socket)) {
            if (index)
                *index = i;
            return session;
        }
        ++i;
    }
    if (index)
        *index = 0;
    return nullptr;
}

int32_t CMainDialog::SessionIndex(const CSession* session) const
{
    return session ? m_sessions.indexOf(session) : 0;
}

CSession* CMainDialog::SessionByNumber(int32_t number)
{
    for (CSession* session : m_sessions)
        if (session->m_nNumber == number)
            return session;
    return nullptr;
}

CMailRecord* CMainDialog::RecordAt(CSession* session, int32_t n)
{
    return session ? session->m_messages.at(n) : nullptr;
}

int32_t CMainDialog::NextMessageToDownload(CSession* session)
{
    int32_t n = 1;
    if (!session)
        return n;
    for (CMailRecord* record : session->m_messages) {
        if (!record || !record->IsDownloaded())
            break;
        ++n;
    }
    return n;
}

CMailRecord* CMainDialog::ProcessedMailByUidl(const std::string& uidl)
{
    for (CMailRecord* record : m_processedMails)
        if (record->m_strUidl == uidl)
            return record;
    return nullptr;
}
