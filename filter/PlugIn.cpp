#include "filter/PlugIn.h"

#include <dlfcn.h>

CPlugIn::~CPlugIn()
{
    if (m_hLibrary)
        dlclose(m_hLibrary);
}

bool CPlugIn::Load(const std::string& path)
{
    m_hLibrary = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_hLibrary)
        return false;
    m_pAnalyse = reinterpret_cast<OrvelaneAnalyseFn>(dlsym(m_hLibrary, "Analyse"));
    if (!m_pAnalyse)
        return false;
    // The name is what follows the last separator of either kind.
    const size_t cut = path.find_last_of("/\\");
    m_strName = cut == std::string::npos ? path : path.substr(cut + 1);
    m_pLevel = reinterpret_cast<OrvelaneLevelFn>(dlsym(m_hLibrary, "Level"));
    return true;
}

bool CPlugIn::CallAnalyse(const char* text, const char* rules, const char* server,
                          const char* user, OrvelaneWindow* window, uint32_t setLogMessage) const
{
    if (!m_pAnalyse)
        return false;
    const int32_t answer = m_pAnalyse(text, rules, server, user, window, setLogMessage);
    return (answer & 0xFF) != 0;
}

int32_t CPlugIn::GetLevel() const
{
    return m_pLevel ? m_pLevel() : -1;
}
