// The plug-ins of the running program: loaded again before every analysis
// run from the names the settings give, and asked in turn about a message.
#pragma once

#include "base/LogSink.h"
#include "base/MailRecord.h"
#include "base/OwnedList.h"
#include "base/SettingsValues.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/PlugIn.h"
#include "filter/RuleSet.h"

#include <cstdint>
#include <string>

class CPlugIns
{
public:
    // Loading and asking log to `log`; the names come from `settings`. The
    // decoder and text tools prepare the text each plug-in is handed.
    CPlugIns(ILogSink& log, const CSettings& settings, CMailDecoder& decoder,
             const CTextTools& tools)
        : m_log(log), m_settings(settings), m_decoder(decoder), m_tools(tools)
    {
    }
    CPlugIns(const CPlugIns&) = delete;
    CPlugIns& operator=(const CPlugIns&) = delete;

    // The window handle and "Set Log" message number every plug-in is given,
    // through which it writes to the log.
    void SetWindow(OrvelaneWindow* window, uint32_t setLogMessage)
    {
        m_pWindow = window;
        m_nSetLogMessage = setLogMessage;
    }

    // Unloads every plug-in and loads those the settings name again.
    void Load();
    // Asks the plug-ins in turn; true when one judged the message spam, whose
    // name then becomes the record's rule text and filter label. `server` and
    // `user` are the server's host name and the USER line sent to it.
    bool Run(CMailRecord* record, const RuleList& bodyRules, const std::string& server,
             const std::string& user);
    // A fresh copy of a message prepared for a plug-in as its level bits ask.
    std::string PrepareText(std::string text, int32_t level);

    // The loaded plug-ins, in the order of the settings' names.
    OwnedList<CPlugIn>& Loaded() { return m_plugIns; }
    const OwnedList<CPlugIn>& Loaded() const { return m_plugIns; }

private:
    ILogSink& m_log;
    const CSettings& m_settings;
    CMailDecoder& m_decoder;
    const CTextTools& m_tools;
    OrvelaneWindow* m_pWindow = nullptr;
    uint32_t m_nSetLogMessage = 0;
    OwnedList<CPlugIn> m_plugIns;
};
