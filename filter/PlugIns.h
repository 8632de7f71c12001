// The plug-ins of the running program: loaded again before every analysis
// run from the names the settings give, and asked in turn about a message,
// on worker threads (see PlugInRunner.h).
//
// A name without a '/' is first looked for among the plug-ins installed with
// the program (so "PlugIn=spamd" finds spamd.so), then through the system's
// library search. Second-version plug-ins are opened with their
// "<name>.<key>=<value>" lines of the settings.
#pragma once

#include "base/LogSink.h"
#include "base/MailRecord.h"
#include "base/OwnedList.h"
#include "base/SettingsValues.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/PlugIn.h"
#include "filter/PlugInRunner.h"
#include "filter/RuleSet.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A fresh copy of a message prepared for a first-version plug-in as its level
// bits ask, in the fixed order of the bits; nothing is logged.
std::string PreparePlugInText(std::string text, int32_t level, CMailDecoder& decoder, const CTextTools& tools);

// What the outcomes of a chain mean for the message.
struct SPlugInResult {
    bool spam = false;
    // The plug-in that found the message unsure, and its detail, for the
    // spam cell; empty when none did.
    std::string unsure;
};

// The prefix of a configured plug-in's option lines: its file name without
// a folder and without ".so" ("/opt/x/myfilter.so" -> "myfilter").
std::string PlugInOptionPrefix(const std::string& configured);

class CPlugIns
{
public:
    // Loading and asking log to `log`; the names come from `settings`. The
    // decoder and text tools prepare the text each plug-in is handed.
    CPlugIns(ILogSink& log, const CSettings& settings, CMailDecoder& decoder, const CTextTools& tools);
    CPlugIns(const CPlugIns&) = delete;
    CPlugIns& operator=(const CPlugIns&) = delete;

    // The window handle and "Set Log" message number through which plug-ins
    // write to the log (lines written during a call are kept with it).
    void SetWindow(OrvelaneWindow* window, uint32_t setLogMessage);
    // Where a bare name is looked for first; by default the folder
    // "plugins" beside the program and ../lib/orvelane/plugins from it.
    void SetSearchFolders(std::vector<std::string> folders) { m_searchFolders = std::move(folders); }
    // The path a configured name loads from.
    std::string Resolve(const std::string& name) const;
    // The names of the plug-ins installed with the program (the .so files
    // of the search folders, without ".so"), sorted.
    std::vector<std::string> Installed() const;

    // Unloads every plug-in and loads those the settings name again.
    void Load();
    // Loads them without a log line unless they are loaded already as the
    // settings name them (for chains begun before the analysis run).
    void LoadAhead();
    // Asks the plug-ins in turn, on the worker threads, and waits; true when
    // one judged the message spam, whose name then becomes the record's rule
    // text and filter label. `server` and `user` are the server's host name
    // and the USER line sent to it.
    bool Run(CMailRecord* record, const RuleList& bodyRules, const std::string& server,
             const std::string& user);
    // A fresh copy of a message prepared for a plug-in as its level bits ask.
    std::string PrepareText(std::string text, int32_t level);

    // The chain that asks the loaded plug-ins about `text`; null when none judges.
    std::shared_ptr<CPlugInChain> MakeChain(const std::string& text, const std::string& rules,
                                            const std::string& server, const std::string& user) const;
    // The BODY rules as the plug-ins are handed them: joined by "|".
    static std::string JoinRules(const RuleList& bodyRules);
    // A chain made for the loaded plug-ins from these values.
    bool Fits(const CPlugInChain& chain, const std::string& text, const std::string& rules,
              const std::string& server, const std::string& user) const;
    // Writes the log lines of a settled chain in order and sets the record's
    // labels when a plug-in said spam.
    SPlugInResult Apply(CMailRecord* record, CPlugInChain& chain);
    // The chain that teaches every loaded plug-in that can learn that `text`
    // (as the server sent it) is spam or not; null when none can.
    std::shared_ptr<CPlugInChain> MakeLearning(const std::string& text, bool spam) const;
    // Writes one log line per plug-in of a settled learning chain with what
    // its engine answered; how many learned.
    int32_t ApplyLearning(CPlugInChain& chain);
    CPlugInRunner& Runner() { return m_runner; }

    // The loaded plug-ins, in the order of the settings' names.
    OwnedList<CPlugIn>& Loaded() { return m_plugIns; }
    const OwnedList<CPlugIn>& Loaded() const { return m_plugIns; }

private:
    // What the loaded plug-ins were loaded from: names, options, time-out.
    std::string SettingsSignature() const;
    void LoadAll(bool log);

    ILogSink& m_log;
    const CSettings& m_settings;
    CMailDecoder& m_decoder;
    const CTextTools& m_tools;
    OrvelaneWindow* m_pWindow = nullptr;
    uint32_t m_nSetLogMessage = 0;
    std::vector<std::string> m_searchFolders;
    OwnedList<CPlugIn> m_plugIns;
    std::string m_strLoadedFrom;
    bool m_bLoaded = false;
    CPlugInRunner m_runner;
};
