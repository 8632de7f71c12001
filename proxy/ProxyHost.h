// What the proxy needs of the program around it: the activity log, the
// settings, the window furniture it moves, and the two points where the
// analysis joins in (a message has finished downloading; a mailbox is in).
#pragma once

#include "base/LogSink.h"
#include "base/Models.h"
#include "base/SettingsValues.h"
#include "base/Texts.h"

#include <string>

class CMailRecord;
class CSession;
class IMessageStore;

class IProxyHost : public ILogSink
{
public:
    virtual const CSettings& Settings() const = 0;
    // Byte-level traces and step lines.
    virtual bool Debug() const = 0;
    // "Stop filter": the proxy relays everything and analyses nothing.
    virtual bool AnalysisOff() const = 0;
    virtual CProgressModel& Progress() = 0;
    virtual CConnectionListModel& Connections() = 0;
    virtual void SetTrayIcon(bool busy, bool forceAdd) = 0;
    // A session's server connection is open: a new mail check begins.
    virtual void MailCheckStarted() = 0;
    // A message of the session has finished downloading; its analysis may
    // start early.
    virtual void PrepareAnalysis(CSession* session, CMailRecord* record) = 0;
    // Whether analysing the downloaded `record` now would find its early
    // part done. A host that cannot tell says no: its messages are then
    // analysed when the mailbox is in (or past the memory bound).
    virtual bool Prepared(const CMailRecord& record) const
    {
        (void)record;
        return false;
    }
    // The session's mailbox is in: filter, mark and list its messages. False
    // when the analysis waits for the plug-ins: the host then calls the
    // proxy's AnalysisSettled once it has ended.
    virtual bool AnalyseMessages(CSession* session) = 0;
    // A failure at start-up that the user must see (a message box).
    virtual void ShowStartupMessage(const std::string& text, const std::string& caption) = 0;
    // The listener could not open; `text` is the log line without its line
    // end. By default a start-up message.
    virtual void ShowListenFailure(const std::string& text) { ShowStartupMessage(text, txt::kListenFailedCaption); }
    // The analysed messages kept across runs; null when none are kept.
    virtual IMessageStore* Store() { return nullptr; }
};
