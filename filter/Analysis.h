// The analysis of a connection's downloaded messages: the fixed chain of
// filters, from the sender trust list to the plug-ins, the matching and
// marking it uses, and the preparation of each message in the background as
// soon as its download ends.
//
// The analysis reaches the rest of the program only through what it is given:
// the log, the settings, the mail list, the rule set, the plug-ins and the
// text operations.
#pragma once

#include "base/LogSink.h"
#include "base/MailRecord.h"
#include "base/Models.h"
#include "base/OwnedList.h"
#include "base/SettingsValues.h"
#include "decode/HeaderExtraction.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/PlugIns.h"
#include "filter/RuleCache.h"
#include "filter/RuleMatcher.h"
#include "filter/RuleSet.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CPrepareWorker;
struct SPreparedAnalysis;

// The value of a spam's X-Orvelane-Reason field: its spam type, the filter
// label and the rule (the label left out when it repeats the rule), with no
// control byte and at most 200 bytes.
std::string SpamReason(const CMailRecord& record);

// One analysis run over the records of a list not analysed yet. It may stop
// at a message whose plug-ins have not answered yet, and go on once they have.
struct SAnalysisRun {
    // The records, each with its number in the list (from 1).
    std::vector<std::pair<CMailRecord*, int32_t>> records;
    std::string server;
    std::string user;
    size_t next = 0;
    // While the run waits: the chain asking the plug-ins about records[next],
    // and that message's mail-list row.
    std::shared_ptr<CPlugInChain> chain;
    int32_t row = -1;
};

class CAnalysis
{
public:
    CAnalysis(ILogSink& log, const CSettings& settings, CMailListModel& mailList, CRuleSet& rules,
              CPlugIns& plugIns, CMailDecoder& decoder, const CTextTools& tools);
    ~CAnalysis();
    CAnalysis(const CAnalysis&) = delete;
    CAnalysis& operator=(const CAnalysis&) = delete;

    // The debug flag: the body passes log their progress too.
    void SetDebug(bool debug) { m_bDebug = debug; }
    bool Debug() const { return m_bDebug; }
    // Analysis prepared ahead of time; switched off, all of it is done
    // inside AnalyseMessages.
    void SetPrepareAhead(bool prepare) { m_bPrepareAhead = prepare; }
    bool PreparesAhead() const { return m_bPrepareAhead; }

    // Runs the whole analysis over `records`: reloads the rule file and the
    // plug-ins, then filters, marks and lists each record not analysed yet.
    // `server` and `user` (the server's host name and the USER line sent to
    // it) are handed to the plug-ins.
    // The plug-ins are asked on worker threads; this waits for them.
    void AnalyseMessages(OwnedList<CMailRecord>& records, const std::string& server,
                         const std::string& user);
    // The same without waiting: BeginRun reloads the rule file and the
    // plug-ins (unless `reload` is false: an earlier run of the same scan
    // read them) and takes the records not analysed yet; ContinueRun goes on
    // until the run has ended (true) or waits for `run.chain` (false: call
    // it again once that chain has settled).
    void BeginRun(SAnalysisRun& run, OwnedList<CMailRecord>& records, const std::string& server,
                  const std::string& user, bool reload = true);
    bool ContinueRun(SAnalysisRun& run);
    // The four body passes over one message; the position of the match or -1.
    // Sets the filter label of the pass that matched; never marks. A verdict
    // prepared in the background is used when it was computed from the same
    // text, body lists and debug flag; otherwise the passes run here.
    int32_t AnalyseBody(CMailRecord* record);

    // A message has finished downloading: starts the preparation of its
    // analysis in the background, with the rule file as it stands now.
    // The plug-ins (when the built-in filters would leave the message to
    // them) are asked at once too, with `server` and `user`.
    void PrepareAnalysis(CMailRecord* record, const std::string& server = std::string(),
                         const std::string& user = std::string());
    // Whether the analysis of `record` would find its preparation done (or
    // none under way): analysing it now does not wait on the background.
    bool Prepared(const CMailRecord& record) const;
    // Reads the rule file for the preparations when it may have changed,
    // and has a new content compiled in the background; false when it
    // cannot be read.
    bool RefreshPreparedRules();
    // The background worker, started on first use; null before.
    CPrepareWorker& PrepareWorker();
    const CPrepareWorker* Worker() const { return m_pWorker.get(); }
    // Every compiled rule list.
    CRuleCache& Cache() { return m_cache; }

    // The analysis of `record` begins and ends: its working copy of the text
    // is set and cleared, and what was prepared for it is taken or dropped.
    void BeginAnalysisOf(CMailRecord* record);
    void EndAnalysisOf(CMailRecord* record);
    // The header fields prepared for the record under analysis, with their
    // log lines written; false when there are none.
    bool TakePreparedFields(const CMailRecord* record, CHeaderFields& fields);
    // The text the analysis reads for `record`: its working copy, with the end
    // of the header marked, while that record is being analysed.
    const std::string& AnalysisText(const CMailRecord* record) const;

    // Reads the header fields into the record, inserts the message's mail-list
    // row at `row` (trimming the list to MaxMemoMsg) and returns the row's index.
    int32_t ExtractHeaders(CMailRecord* record, int32_t row);
    // Removes the separator characters (and spaces when asked) in place.
    static void RemoveSeparators(std::string& text, bool alsoSpaces);
    // Header test: the first entry of `list` found in `text` marks the message
    // (or, with the label "Trust", sets it trusted).
    void MatchHeaderRules(CMailRecord* record, std::string text, RuleList& list,
                          const std::string& label, int32_t row, bool stripSeparators);
    // Body search after the "Status:" line: position of the first entry of
    // `list` (in list order) found in the upper-cased text, or -1.
    int32_t FindBodyRule(std::string text, CMailRecord* record, RuleList& list,
                         bool stripSeparators);
    // The same search on a text that is already what the search would make of
    // it (without separators when `stripSeparators` is set); nothing is copied.
    int32_t SearchPreparedBody(std::string_view text, CMailRecord* record, RuleList& list,
                               bool stripSeparators);
    int32_t SearchBody(std::string_view text, size_t start, CMailRecord* record, RuleList& list,
                       bool stripSeparators);
    // `list` compiled for the body search (from the run's compiled lists, or
    // into `local`); null for an empty list.
    const CRuleMatcher* BodyMatcher(const RuleList& list, bool stripSeparators,
                                    std::optional<CRuleMatcher>& local);
    // Tags the message as spam, fills its mail-list row and logs.
    void MarkAsSpam(CMailRecord* record, int32_t row, const std::string& label);
    // With SpamHeaders on, a spam whose verdict is final gets the fields
    // X-Spam-Flag and X-Orvelane-Reason at the start of its header (its size
    // grown and the insertion recorded as the marking does). Ham, and every
    // message with the setting off, is left as it is.
    void AddSpamHeaders(CMailRecord* record);

private:
    // Steps 1 to 14 of one record; true when the plug-ins are to be asked.
    bool AnalyseBuiltIn(CMailRecord* record, int32_t n, int32_t& row);
    // The chain for the plug-ins of `record`: the one begun ahead when it
    // fits, else a new one; null when no plug-in judges.
    std::shared_ptr<CPlugInChain> ChainFor(CMailRecord* record, const SAnalysisRun& run);
    // The plug-ins' answers for the record the run waited on, and its end.
    void FinishPlugIns(SAnalysisRun& run);

    // The compiled form of `list`: from the run's compiled lists when it is
    // one of the rule set's, or built for this call into `local`.
    CRuleMatcher& MatcherFor(std::optional<CRuleMatcher>& local, const RuleList& list,
                             CRuleMatcher::EMode mode, bool stripSeparators);

    ILogSink& m_log;
    const CSettings& m_settings;
    CMailListModel& m_mailList;
    CRuleSet& m_rules;
    CPlugIns& m_plugIns;
    CMailDecoder& m_decoder;
    const CTextTools& m_tools;

    bool m_bDebug = false;
    bool m_bPrepareAhead = true;
    CRuleCache m_cache;
    std::unique_ptr<CPrepareWorker> m_pWorker;
    // Working copy of the message being analysed (see AnalysisText).
    const CMailRecord* m_pAnalysedRecord = nullptr;
    std::string m_strAnalysisText;
    // What was prepared for the record under analysis; each part is taken
    // once (the fields, then the body verdict).
    std::unique_ptr<SPreparedAnalysis> m_pPrepared;
    bool m_bPreparedFieldsTaken = false;
};
