#include "shell/ProxyApp.h"

#include "base/Paths.h"
#include "base/Win1252.h"

bool CProxyApp::IsDefaultSwitch(const std::vector<std::string>& args)
{
    return args.size() == 1 && w1252::EqualsNoCase(args[0], "/default");
}

bool CProxyApp::InitInstance(const std::vector<std::string>& args)
{
    // "/default": the files named without a folder are taken from the
    // configuration folder.
    if (IsDefaultSwitch(args))
        SetCurrentDirectory(ConfigFolder());
    return m_dialog.OnInitDialog();
}
