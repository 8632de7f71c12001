#include "filter/PlugIn.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>

namespace {

template <typename Fn>
Fn Export(void* handle, const char* name)
{
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

// A text the plug-in wrote into a buffer of `size` bytes, read up to its
// first zero byte or the end of the buffer, whichever comes first.
std::string Bounded(const char* buffer, size_t size)
{
    return std::string(buffer, strnlen(buffer, size));
}

} // namespace

SPlugInLibrary::~SPlugInLibrary()
{
    if (opened && close)
        close(instance);
    if (handle)
        dlclose(handle);
}

CPlugIn::~CPlugIn() = default;

bool CPlugIn::Load(const std::string& path, const std::string& name)
{
    m_pLibrary = std::make_shared<SPlugInLibrary>();
    SPlugInLibrary& lib = *m_pLibrary;
    lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle)
        return false;
    lib.analyse = Export<OrvelaneAnalyseFn>(lib.handle, "Analyse");
    lib.check = Export<OrvelaneCheckFn>(lib.handle, "OrvelaneCheck");
    lib.learn = Export<OrvelaneLearnFn>(lib.handle, "OrvelaneLearn");
    if (!lib.analyse && !lib.check && !lib.learn)
        return false;
    lib.level = Export<OrvelaneLevelFn>(lib.handle, "Level");
    lib.open = Export<OrvelaneOpenFn>(lib.handle, "OrvelaneOpen");
    lib.close = Export<OrvelaneCloseFn>(lib.handle, "OrvelaneClose");
    if (!name.empty()) {
        m_strName = name;
    } else {
        // The name is what follows the last separator of either kind.
        const size_t cut = path.find_last_of("/\\");
        m_strName = cut == std::string::npos ? path : path.substr(cut + 1);
    }
    return true;
}

bool CPlugIn::Open(const OrvelaneConfig& config, std::string& error)
{
    if (!m_pLibrary || !m_pLibrary->open)
        return true;
    char buffer[512] = {};
    m_pLibrary->instance = m_pLibrary->open(&config, buffer, sizeof buffer);
    if (!m_pLibrary->instance) {
        error = Bounded(buffer, sizeof buffer);
        return false;
    }
    m_pLibrary->opened = true;
    return true;
}

bool CPlugIn::CallAnalyse(const char* text, const char* rules, const char* server,
                          const char* user, OrvelaneWindow* window, uint32_t setLogMessage) const
{
    return m_pLibrary && m_pLibrary->Analyse(text, rules, server, user, window, setLogMessage);
}

int32_t CPlugIn::GetLevel() const
{
    return m_pLibrary ? m_pLibrary->Level() : -1;
}

SPlugInVerdict CPlugIn::Check(const std::string& text) const
{
    return m_pLibrary ? m_pLibrary->Check(text) : SPlugInVerdict();
}

SPlugInLearning CPlugIn::Learn(const std::string& text, bool spam) const
{
    return m_pLibrary ? m_pLibrary->Learn(text, spam) : SPlugInLearning();
}

bool SPlugInLibrary::Analyse(const char* text, const char* rules, const char* server, const char* user,
                             OrvelaneWindow* window, uint32_t setLogMessage) const
{
    if (!analyse)
        return false;
    return (analyse(text, rules, server, user, window, setLogMessage) & 0xFF) != 0;
}

SPlugInVerdict SPlugInLibrary::Check(const std::string& text) const
{
    SPlugInVerdict result;
    if (!check || text.size() > UINT32_MAX)
        return result;
    OrvelaneVerdict verdict{};
    verdict.size = sizeof verdict;
    verdict.verdict = ORVELANE_NOT_JUDGED;
    check(instance, text.c_str(), static_cast<uint32_t>(text.size()), &verdict);
    // An answer outside the four meanings is no judgement.
    const bool known = verdict.verdict >= ORVELANE_HAM && verdict.verdict <= ORVELANE_NOT_JUDGED;
    result.verdict = known ? verdict.verdict : ORVELANE_NOT_JUDGED;
    result.hasScore = verdict.hasScore != 0;
    result.score = verdict.score;
    result.threshold = verdict.threshold;
    result.reason = Bounded(verdict.reason, sizeof verdict.reason);
    return result;
}

SPlugInLearning SPlugInLibrary::Learn(const std::string& text, bool spam) const
{
    SPlugInLearning result;
    if (!learn || text.size() > UINT32_MAX)
        return result;
    char buffer[512] = {};
    const int32_t answer =
        learn(instance, text.c_str(), static_cast<uint32_t>(text.size()), spam ? 1 : 0, buffer, sizeof buffer);
    result.result = answer > 0 ? ORVELANE_LEARNED : answer == 0 ? ORVELANE_LEARN_NOTHING : ORVELANE_LEARN_FAILED;
    result.text = Bounded(buffer, sizeof buffer);
    return result;
}
