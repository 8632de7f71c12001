// External analysers: shared libraries exporting "Analyse" and, optionally,
// "Level" (the first version of include/orvelane/plugin.h), and/or the
// second version's OrvelaneOpen / OrvelaneCheck / OrvelaneLearn /
// OrvelaneClose. One CPlugIn holds one loaded library.
//
// The library itself lives in a shared core: a call still running on a
// worker thread after its time-out keeps the library (and its instance)
// loaded until it returns, whatever happens to the CPlugIn meanwhile.
//
// The text a first-version plug-in receives is Windows-1252 bytes as
// prepared, never converted between charsets: a part declared in UTF-8 or
// another charset arrives in that charset's bytes, and encoded header words
// arrive encoded, unlike the text the rules see.
#pragma once

#include "orvelane/plugin.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// What a check by one plug-in found.
struct SPlugInVerdict {
    int32_t verdict = ORVELANE_NOT_JUDGED;
    bool hasScore = false;
    double score = 0;
    double threshold = 0;
    std::string reason;
};

// What a learning call did (ORVELANE_LEARNED, _NOTHING or _FAILED) and the
// engine's answer as the plug-in put it.
struct SPlugInLearning {
    int32_t result = ORVELANE_LEARN_FAILED;
    std::string text;
};

// The loaded library and its instance; shared by the CPlugIn and the calls
// under way.
struct SPlugInLibrary {
    ~SPlugInLibrary();
    void* handle = nullptr;
    OrvelaneAnalyseFn analyse = nullptr;
    OrvelaneLevelFn level = nullptr;
    OrvelaneOpenFn open = nullptr;
    OrvelaneCheckFn check = nullptr;
    OrvelaneLearnFn learn = nullptr;
    OrvelaneCloseFn close = nullptr;
    void* instance = nullptr;
    bool opened = false;

    // The calls, safe on any thread while the library is held.
    int32_t Level() const { return level ? level() : -1; }
    bool Analyse(const char* text, const char* rules, const char* server, const char* user,
                 OrvelaneWindow* window, uint32_t setLogMessage) const;
    SPlugInVerdict Check(const std::string& text) const;
    SPlugInLearning Learn(const std::string& text, bool spam) const;
};

class CPlugIn
{
public:
    CPlugIn() = default;
    virtual ~CPlugIn();
    CPlugIn(const CPlugIn&) = delete;
    CPlugIn& operator=(const CPlugIn&) = delete;

    // Loads the library at `path` (unchanged, so a bare name goes through the
    // system's library search) and looks up its exports. False when the library
    // cannot be loaded or exports none of Analyse, OrvelaneCheck and
    // OrvelaneLearn; such a library stays held until the object is destroyed.
    // `name`, when given, is the name instead of the file name.
    bool Load(const std::string& path, const std::string& name = std::string());
    // Opens the second version's instance with `config`; true without an
    // OrvelaneOpen export. On failure `error` says why.
    bool Open(const OrvelaneConfig& config, std::string& error);
    // Calls "Analyse"; true when the low 8 bits of its answer are not all zero.
    // False when there is no "Analyse" entry.
    bool CallAnalyse(const char* text, const char* rules, const char* server, const char* user,
                     OrvelaneWindow* window, uint32_t setLogMessage) const;
    // The preparation bits from "Level", or -1 (all bits) without that export.
    int32_t GetLevel() const;
    std::string GetName() const { return m_strName; }

    // The second version: judging the raw text, and learning from it.
    bool Checks() const { return m_pLibrary && m_pLibrary->check; }
    bool Learns() const { return m_pLibrary && m_pLibrary->learn; }
    bool Judges() const { return Checks() || (m_pLibrary && m_pLibrary->analyse); }
    SPlugInVerdict Check(const std::string& text) const;
    SPlugInLearning Learn(const std::string& text, bool spam) const;

    const std::shared_ptr<SPlugInLibrary>& Library() const { return m_pLibrary; }

private:
    std::shared_ptr<SPlugInLibrary> m_pLibrary;
    std::string m_strName;
};
