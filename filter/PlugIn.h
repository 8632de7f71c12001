// External analysers: shared libraries exporting "Analyse" and, optionally,
// "Level" (see include/orvelane/plugin.h). One CPlugIn holds one loaded library.
// The text a plug-in receives is Windows-1252 bytes as prepared, never
// converted between charsets: a part declared in UTF-8 or another charset
// arrives in that charset's bytes, and encoded header words arrive encoded,
// unlike the text the rules see.
#pragma once

#include "orvelane/plugin.h"

#include <cstdint>
#include <string>

class CPlugIn
{
public:
    CPlugIn() = default;
    virtual ~CPlugIn();
    CPlugIn(const CPlugIn&) = delete;
    CPlugIn& operator=(const CPlugIn&) = delete;

    // Loads the library at `path` (unchanged, so a bare name goes through the
    // system's library search) and looks up its exports. False when the library
    // cannot be loaded or exports no "Analyse"; a library loaded without
    // "Analyse" stays held until the object is destroyed.
    bool Load(const std::string& path);
    // Calls "Analyse"; true when the low 8 bits of its answer are not all zero.
    // False when there is no "Analyse" entry.
    bool CallAnalyse(const char* text, const char* rules, const char* server, const char* user,
                     OrvelaneWindow* window, uint32_t setLogMessage) const;
    // The preparation bits from "Level", or -1 (all bits) without that export.
    int32_t GetLevel() const;
    std::string GetName() const { return m_strName; }

private:
    void* m_hLibrary = nullptr;
    OrvelaneAnalyseFn m_pAnalyse = nullptr;
    OrvelaneLevelFn m_pLevel = nullptr;
    std::string m_strName;
};
