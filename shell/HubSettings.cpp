// The settings dialog's work on the hub: the file written, what it says
// applied to the running program, and the listener's failure explained.
#include "shell/MainDialog.h"

#include "base/Format.h"
#include "base/Paths.h"
#include "base/Texts.h"

#include <filesystem>
#include <unistd.h>

CSettingsFile CMainDialog::LoadSettingsFile() const
{
    std::string bytes;
    if (!m_strSettingsPath.empty())
        ReadBinaryFile(m_strSettingsPath, bytes);
    return CSettingsFile(bytes);
}

std::string CMainDialog::PlugInPath(const std::string& name) const
{
    const std::string path = m_plugIns.Resolve(name);
    if (path.find('/') == std::string::npos)
        return {}; // neither installed nor a path
    return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

CMainDialog::SSaved CMainDialog::SaveSettings(const SSettingsForm& form)
{
    SSaved saved;
    if (m_strSettingsPath.empty())
        m_strSettingsPath = FindFile(ConfigFolder(), txt::kSettingsFileName);
    CSettingsFile file = LoadSettingsFile();
    StoreForm(form, file);
    const std::string bytes = file.Bytes();
    if (!WriteFileAtomically(m_strSettingsPath, bytes, saved.error))
        return saved;
    saved.written = true;
    AddLog(StrFormat(txt::kSettingsSaved, m_strSettingsPath.c_str()), true);
    // What a start would read from the file now.
    CSettings next;
    ParseSettings(bytes, next);
    SSaved applied = ApplySettings(next);
    applied.written = true;
    return applied;
}

CMainDialog::SSaved CMainDialog::ApplySettings(const CSettings& next)
{
    SSaved result;
    const CSettings before = m_settings;
    m_settings = next;
    // The store: a new bound holds from the next write; a store opened
    // once there is one; none any more only after a restart, since messages
    // on the server are served from it now.
    if (m_store.IsOpen()) {
        if (next.m_nMaxStoreMB > 0)
            m_store.SetMaxBytes(int64_t(next.m_nMaxStoreMB) << 20);
        else
            result.atRestart.push_back(txt::kSettingsRestartStore);
    } else if (next.m_nMaxStoreMB > 0 && before.m_nMaxStoreMB == 0 && m_proxy.Listening()) {
        OpenStore();
    }
    // The listener, where the settings now say.
    if (!m_proxy.Listening() || before.m_nListenPort != next.m_nListenPort ||
        before.m_strListenAddress != next.m_strListenAddress) {
        const bool wasListening = m_proxy.Listening();
        result.listening = m_proxy.ReopenListener(before.m_strListenAddress, before.m_nListenPort);
        // The store follows the listener at start-up; a program that
        // could not listen then opens it now.
        if (result.listening && !wasListening && !m_store.IsOpen() && m_settings.m_nMaxStoreMB > 0)
            OpenStore();
    }
    return result;
}

std::string CMainDialog::ListenFailureText() const
{
    const int32_t port = m_settings.m_nListenPort;
    std::string text = port == 110 ? std::string(txt::kListenFailed) : StrFormat(txt::kListenPortFailed, port);
    text += "\n\n";
    switch (m_proxy.ListenFailure()) {
    case EListenFailure::kInUse:
        text += StrFormat(txt::kListenWhyInUse, port);
        break;
    case EListenFailure::kPrivileged:
        text += txt::kListenWhyPrivileged;
        break;
    case EListenFailure::kAddress:
        text += StrFormat(txt::kListenWhyAddress, m_proxy.ListenAddress().c_str());
        break;
    case EListenFailure::kNone:
    case EListenFailure::kOther:
        text += StrFormat(txt::kListenWhyOther, m_proxy.ListenError().c_str());
        break;
    }
    text += "\n\n";
    if (m_proxy.ListenFailure() == EListenFailure::kAddress) {
        text += txt::kListenRemedyAddress;
        return text;
    }
    text += txt::kListenRemedyPort;
    if (m_proxy.ListenFailure() == EListenFailure::kPrivileged) {
        std::error_code error;
        const std::string program = std::filesystem::read_symlink("/proc/self/exe", error).string();
        text += '\n';
        text += StrFormat(txt::kListenRemedyPrivilege, port, error ? "orvelane" : program.c_str());
    }
    return text;
}

void CMainDialog::ShowListenFailure(const std::string& text)
{
    if (m_listenFailureBox)
        m_listenFailureBox(text);
    else
        ShowStartupMessage(text, txt::kListenFailedCaption);
}
