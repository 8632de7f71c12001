#include "shell/MainDialog.h"

#include "base/Format.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <cstdio>
#include <map>
#include <mutex>

CMainDialog::CMainDialog(QObject* parent) : QObject(parent)
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

    // The listener, then the store: of two instances started together, the
    // one that holds the port is the one that serves, and the only one to
    // open the store (the other would find it busy, or hold it busy).
    OpenListener();
    if (m_proxy.Listening())
        OpenStore();

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
    // The current directory first, then the configuration folder, which then
    // becomes the current directory; the log says where it looked.
    std::string bytes, path;
    const auto searching = [this](const std::string& folder) {
        AddLog(StrFormat(txt::kSettingsSearch, txt::kSettingsFileName, folder.c_str()), true);
    };
    const bool found = LocateSettings(searching, path, bytes);
    m_strSettingsPath = path;
    if (!found) {
        AddLog(txt::kSettingsUnreadable, true);
        return;
    }
    AddLog(std::string(txt::kLoading) + path + "\r\n", true);
    std::vector<std::string> problems;
    ParseSettings(bytes, m_settings, &problems);
    for (std::string& line : problems)
        AddLog(std::move(line), true);
}

void CMainDialog::OpenStore()
{
    m_store.Close();
    if (m_settings.m_nMaxStoreMB > 0)
        m_store.Open(CurrentDirectory() + "/" + txt::kStoreFileName, int64_t(m_settings.m_nMaxStoreMB) << 20);
}

std::string CMainDialog::MessageText(const CMailRecord& record)
{
    std::string holder;
    std::string_view text;
    return m_proxy.TextOf(record, holder, text) ? std::string(text) : std::string();
}

void CMainDialog::ToggleDebug(bool enable)
{
    m_bDebug = enable;
    m_analysis.SetDebug(enable);
    AddLog(enable ? txt::kDebugEnable : txt::kDebugDisable, true);
}

void CMainDialog::AddLog(std::string text, bool truncate)
{
    m_logWriter.AddLog(std::move(text), truncate);
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
    } else if (const char* text = reinterpret_cast<const char*>(lParam)) {
        // Another thread: the text is copied here and logged on the
        // event-loop thread, in the order the lines were sent. The sender
        // never waits for that thread, which may itself be waiting.
        QMetaObject::invokeMethod(
            self, [self, copy = std::string(text)] { self->AddLog(copy, true); }, Qt::QueuedConnection);
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
    if (m_settings.m_nMaxLogSize == 0)
        m_logWriter.Log().Clear();
    // A plug-in left out after a time-out is asked again.
    m_plugIns.Runner().NewCheck();
    m_store.NewCheck();
    m_logWriter.NewCheck();
    // A store that could not be opened (busy elsewhere, a full disk) is
    // tried again at every check.
    if (!m_store.IsOpen() && m_settings.m_nMaxStoreMB > 0 && !m_store.Path().empty())
        m_store.Open(m_store.Path(), int64_t(m_settings.m_nMaxStoreMB) << 20);
}

void CMainDialog::SetMessageBox(std::function<void(const std::string&, const std::string&)> box)
{
    m_messageBox = std::move(box);
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
