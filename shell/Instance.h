// One running copy per user and settings folder. The first copy listens on a
// local socket in the user's runtime folder; a later start finds it there,
// asks it to show its window and ends instead of failing on the port and
// running a second, idle copy.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;

class CInstanceGuard : public QObject
{
public:
    // `folder`: the settings folder the copy will run from.
    explicit CInstanceGuard(std::string folder, QObject* parent = nullptr);
    ~CInstanceGuard() override;

    enum class EClaim {
        kFirst,         // no copy runs: this one now answers later starts
        kShown,         // a copy runs and has shown its window
        kRunning,       // a copy runs (without a window, or asked nothing)
        kUnavailable,   // the socket could not be made: run all the same
    };
    // Looks for a running copy; with `askToShow` asks it to show its window.
    // Without one, takes the place (a socket left by a copy that died is
    // replaced). Blocks for at most a few seconds, before the event loop.
    EClaim Claim(bool askToShow);

    // Called when a later start asks to see the window; true when it was
    // shown. Unset: the copy has no window.
    std::function<bool()> m_onShowRequest;

    const std::string& Folder() const { return m_strFolder; }
    // The socket's path for the settings folder `folder`: in
    // $XDG_RUNTIME_DIR (else the temporary folder), named by the user and a
    // digest of the folder.
    static std::string SocketPath(const std::string& folder);

private:
    void OnConnection();

    std::string m_strFolder;
    QLocalServer* m_pServer = nullptr;
};

// The folder the settings will be read from for these program arguments:
// the current directory when it holds the settings file (and "/default" is
// not given), else the configuration folder.
std::string InstanceFolder(const std::vector<std::string>& args);

// The line a later start prints for `claim` (kShown, kRunning); empty for
// the others.
std::string InstanceMessage(CInstanceGuard::EClaim claim, const std::string& folder);
