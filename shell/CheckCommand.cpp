#include "shell/CheckCommand.h"

#include "base/MailFiles.h"
#include "base/Models.h"
#include "base/Numbers.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/Analysis.h"
#include "filter/PlugIns.h"
#include "filter/RuleSet.h"
#include "shell/MailPathArgs.h"
#include "shell/Settings.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

namespace {

// Messages analysed in one run: each run reloads the rule file and the
// plug-ins, as a mail check does; a run of this many keeps that cost small
// and the texts held at once bounded.
constexpr size_t kBatch = 256;

// The core's log lines on standard error, each distinct one once. The lines
// every message's analysis writes ("Analyse du Msg N°...") are left out: the
// verdict lines on standard output say the same.
class CCheckLog final : public ILogSink
{
public:
    void AddLog(std::string text, bool) override
    {
        for (const char* routine : {txt::kAnalysingMsg, txt::kAnalysisEnd, txt::kSpamFound})
            if (text.starts_with(std::string_view(routine, std::strcspn(routine, "%"))))
                return;
        Show(text);
    }

    // Also from the plug-ins' worker threads.
    void Show(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_shown.insert(text).second)
            return;
        std::string shown = w1252::ToUtf8(text);
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
            shown.pop_back();
        std::fprintf(stderr, "orvelane: %s\n", shown.c_str());
    }

private:
    std::mutex m_mutex;
    std::set<std::string> m_shown;
};

// The window handed to the plug-ins: what they log goes to the same place.
struct SCheckWindow {
    OrvelaneWindow window{};
    CCheckLog* log = nullptr;
    uint32_t setLogMessage = 0;
};

intptr_t CheckWindowSend(OrvelaneWindow* window, uint32_t message, uintptr_t, intptr_t lParam)
{
    auto* self = window ? static_cast<SCheckWindow*>(window->host) : nullptr;
    if (self && message == self->setLogMessage && lParam)
        self->log->Show(reinterpret_cast<const char*>(lParam));
    return 0;
}

// The text as a download stores it: the server's lines as they travel (a
// leading dot doubled) and the closing line.
std::string AsRetrieved(const std::string& wire)
{
    std::string text;
    text.reserve(wire.size() + wire.size() / 64 + 3);
    size_t at = 0;
    while (at < wire.size()) {
        const size_t lf = wire.find('\n', at);
        const size_t end = lf == std::string::npos ? wire.size() : lf + 1;
        if (wire[at] == '.')
            text += '.';
        text.append(wire, at, end - at);
        at = end;
    }
    text += ".\r\n";
    return text;
}

// The name a message is shown under: the PATH as the user wrote it.
std::string ShownName(const std::string& name, const std::string& read, const std::string& given)
{
    return name.starts_with(read) ? given + name.substr(read.size()) : name;
}

struct SCheckCounts {
    int64_t spam = 0, ham = 0;
};

class CChecker
{
public:
    CChecker(CCheckLog& log, const CSettings& settings)
        : m_plugIns(log, settings, m_decoder, m_tools), m_rules(log),
          m_analysis(log, settings, m_mailList, m_rules, m_plugIns, m_decoder, m_tools)
    {
        m_window.window.size = sizeof(OrvelaneWindow);
        m_window.window.SendMessage = &CheckWindowSend;
        m_window.window.host = &m_window;
        m_window.log = &log;
        m_window.setLogMessage = 0xC000u;
        m_plugIns.SetWindow(&m_window.window, m_window.setLogMessage);
    }
    ~CChecker() { Flush(); }

    // As a download ends: kept for the next run, its analysis prepared in
    // the background meanwhile.
    void Add(SMailFileMessage&& message)
    {
        auto record = std::make_unique<CMailRecord>();
        record->m_pszText = AsRetrieved(message.text);
        record->m_nNumber = Clamp32(int64_t(m_batch.count()) + 1);
        record->m_nSize = record->m_nReceived = record->m_nListedSize = ClampSize32(record->m_pszText.size());
        record->m_bDownloaded = true;
        m_analysis.PrepareAnalysis(record.get());
        m_names.push_back(std::move(message.name));
        m_batch.append(std::move(record));
        if (size_t(m_batch.count()) >= kBatch)
            Flush();
    }

    // Analyses what was added, as a scan's end does, and prints the verdicts.
    void Flush()
    {
        if (m_batch.count() == 0)
            return;
        m_analysis.AnalyseMessages(m_batch, std::string(), std::string());
        size_t i = 0;
        for (CMailRecord* record : m_batch) {
            const std::string& name = m_names[i++];
            if (record->m_bSpam) {
                ++m_counts.spam;
                std::printf("%s\tspam\t%s\n", name.c_str(), w1252::ToUtf8(SpamReason(*record)).c_str());
            } else {
                ++m_counts.ham;
                // A known sender ends the analysis: the trust list fired.
                std::printf("%s\tham%s\n", name.c_str(), record->m_bTrusted ? "\tTrust" : "");
            }
        }
        std::fflush(stdout);
        m_batch.clear();
        m_names.clear();
        m_mailList.DeleteAllRows();
    }

    const SCheckCounts& Counts() const { return m_counts; }

private:
    // Before the plug-ins: their worker threads may log until they are gone.
    SCheckWindow m_window;
    CMailDecoder m_decoder;
    CTextTools m_tools;
    CMailListModel m_mailList;
    CPlugIns m_plugIns;
    CRuleSet m_rules;
    CAnalysis m_analysis;
    OwnedList<CMailRecord> m_batch;
    std::vector<std::string> m_names;
    SCheckCounts m_counts;
};

} // namespace

bool IsCheckCommand(const std::vector<std::string>& args)
{
    const size_t at = !args.empty() && w1252::EqualsNoCase(args[0], "/default") ? 1 : 0;
    return args.size() > at && args[at] == "--check";
}

int RunCheckCommand(const std::vector<std::string>& args)
{
    if (!IsCheckCommand(args))
        return 2;
    const bool useDefault = w1252::EqualsNoCase(args[0], "/default");
    const std::vector<std::string> paths(args.begin() + (useDefault ? 2 : 1), args.end());
    if (paths.empty()) {
        std::fprintf(stderr, "orvelane: --check needs at least one PATH: a message file, a Maildir or an mbox\n");
        return 2;
    }
    std::vector<std::string> readPaths;
    if (!ResolveMailPaths(paths, "orvelane: nothing was checked", &readPaths))
        return 2;

    // The settings, rule file and plug-ins a mail check would use.
    if (useDefault)
        SetCurrentDirectory(ConfigFolder());
    CCheckLog log;
    CSettings settings;
    std::string settingsPath, bytes;
    if (LocateSettings([](const std::string&) {}, settingsPath, bytes))
        ParseSettings(bytes, settings);
    else
        log.Show(txt::kSettingsUnreadable);

    int64_t tooBig = 0, empty = 0, unreadable = 0;
    bool readFailed = false;
    CChecker checker(log, settings);
    for (size_t i = 0; i < paths.size(); ++i) {
        SMailPathReport report;
        std::string error;
        if (!ReadMailPath(readPaths[i], kMaxMailFileMessage,
                          [&](SMailFileMessage&& message) {
                              message.name = ShownName(message.name, readPaths[i], paths[i]);
                              checker.Add(std::move(message));
                              return true;
                          },
                          report, error)) {
            std::fprintf(stderr, "orvelane: cannot read %s: %s\n", paths[i].c_str(), error.c_str());
            readFailed = true;
        }
        for (const std::string& problem : report.unreadable)
            std::fprintf(stderr, "orvelane: cannot read %s\n", ShownName(problem, readPaths[i], paths[i]).c_str());
        if (report.tooBig)
            std::fprintf(stderr, "orvelane: %s: %lld messages over %lld bytes not checked\n", paths[i].c_str(),
                         (long long)report.tooBig, (long long)kMaxMailFileMessage);
        tooBig += report.tooBig;
        empty += report.empty;
        unreadable += int64_t(report.unreadable.size());
    }
    checker.Flush();
    const SCheckCounts& counts = checker.Counts();
    std::printf("%lld messages checked from %zu PATH(s): %lld spam, %lld ham; skipped: %lld too big, %lld empty, "
                "%lld unreadable\n",
                (long long)(counts.spam + counts.ham), paths.size(), (long long)counts.spam, (long long)counts.ham,
                (long long)tooBig, (long long)empty, (long long)unreadable);
    return readFailed ? 2 : 0;
}
