#include "shell/LearnCommand.h"

#include "base/MailFiles.h"
#include "base/Paths.h"
#include "base/Win1252.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/PlugIns.h"
#include "shell/MailPathArgs.h"
#include "shell/Settings.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

// Messages taught at once: engines are other processes or servers, whose
// own parallelism (spamd's children) this feeds. A plug-in's calls may
// overlap, as its interface allows.
constexpr int kLearnThreads = 4;
// Messages read ahead of the learners.
constexpr size_t kQueueDepth = 16;
// Without a terminal, one progress line per this many messages.
constexpr int64_t kProgressEvery = 500;

// The core's log lines (loading a plug-in), shown as they are.
class CStderrLog final : public ILogSink
{
public:
    void AddLog(std::string text, bool) override
    {
        std::string shown = w1252::ToUtf8(text);
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
            shown.pop_back();
        std::fprintf(stderr, "orvelane: %s\n", shown.c_str());
    }
};

struct SEngineCount {
    const CPlugIn* plugIn = nullptr;
    int64_t taught = 0, skipped = 0, failed = 0;
    std::string firstFailure;
};

class CLearner
{
public:
    CLearner(std::vector<SEngineCount>& engines, bool spam) : m_engines(engines), m_bSpam(spam)
    {
        m_bTerminal = ::isatty(STDERR_FILENO) == 1;
        for (int i = 0; i < kLearnThreads; ++i)
            m_threads.emplace_back([this] { Work(); });
    }
    ~CLearner() { Finish(); }

    // Waits while the queue is full.
    void Add(SMailFileMessage&& message)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_roomLeft.wait(lock, [this] { return m_queue.size() < kQueueDepth; });
        m_queue.push_back(std::move(message));
        m_ready.notify_one();
    }

    void Finish()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bDone)
                return;
            m_bDone = true;
        }
        m_ready.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
        if (m_bTerminal && m_nDone > 0)
            std::fputc('\n', stderr);
    }

    int64_t Done() const { return m_nDone; }

private:
    void Work()
    {
        for (;;) {
            SMailFileMessage message;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return m_bDone || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                message = std::move(m_queue.front());
                m_queue.pop_front();
                m_roomLeft.notify_one();
            }
            std::vector<SPlugInLearning> answers;
            for (const SEngineCount& engine : m_engines)
                answers.push_back(engine.plugIn->Learn(message.text, m_bSpam));
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < answers.size(); ++i) {
                SEngineCount& engine = m_engines[i];
                if (answers[i].result == ORVELANE_LEARNED) {
                    ++engine.taught;
                } else if (answers[i].result == ORVELANE_LEARN_NOTHING) {
                    ++engine.skipped;
                } else {
                    if (engine.failed++ == 0)
                        engine.firstFailure = message.name + ": " + w1252::ToUtf8(answers[i].text);
                }
            }
            ++m_nDone;
            Progress(message.name);
        }
    }

    // Under the lock.
    void Progress(const std::string& name)
    {
        if (m_bTerminal) {
            const auto now = std::chrono::steady_clock::now();
            if (now - m_lastShown < std::chrono::milliseconds(100))
                return;
            m_lastShown = now;
            std::fprintf(stderr, "\r\033[Korvelane: %lld messages learned as %s (%s)", (long long)m_nDone,
                         m_bSpam ? "spam" : "ham", name.c_str());
        } else if (m_nDone % kProgressEvery == 0) {
            std::fprintf(stderr, "orvelane: %lld messages learned as %s\n", (long long)m_nDone,
                         m_bSpam ? "spam" : "ham");
        }
        std::fflush(stderr);
    }

    std::vector<SEngineCount>& m_engines;
    const bool m_bSpam;
    bool m_bTerminal = false;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_roomLeft;
    std::deque<SMailFileMessage> m_queue;
    bool m_bDone = false;
    int64_t m_nDone = 0;
    std::chrono::steady_clock::time_point m_lastShown{};
    std::vector<std::thread> m_threads;
};

bool IsLearnSwitch(const std::string& arg)
{
    return arg == "--learn-spam" || arg == "--learn-ham";
}

const char* KindName(EMailPathKind kind)
{
    switch (kind) {
    case EMailPathKind::kMessage:
        return "message file";
    case EMailPathKind::kMbox:
        return "mbox";
    case EMailPathKind::kMaildir:
        return "Maildir";
    case EMailPathKind::kFolder:
        return "folder of message files";
    case EMailPathKind::kUnreadable:
        break;
    }
    return "unreadable";
}

} // namespace

bool IsLearnCommand(const std::vector<std::string>& args)
{
    const size_t at = !args.empty() && w1252::EqualsNoCase(args[0], "/default") ? 1 : 0;
    return args.size() > at && IsLearnSwitch(args[at]);
}

int RunLearnCommand(const std::vector<std::string>& args)
{
    if (!IsLearnCommand(args))
        return 2;
    const bool useDefault = w1252::EqualsNoCase(args[0], "/default");
    const size_t at = useDefault ? 1 : 0;
    const bool spam = args[at] == "--learn-spam";
    const std::vector<std::string> paths(args.begin() + long(at) + 1, args.end());
    if (paths.empty()) {
        std::fprintf(stderr, "orvelane: %s needs at least one PATH: a message file, a Maildir or an mbox\n",
                     args[at].c_str());
        return 2;
    }
    // Every PATH is looked at before anything is taught: a typing mistake
    // must not leave half of the folders learned.
    std::vector<std::string> readPaths;
    if (!ResolveMailPaths(paths, "orvelane: nothing was taught", &readPaths))
        return 2;

    // The settings and plug-ins a check would use.
    if (useDefault)
        SetCurrentDirectory(ConfigFolder());
    std::vector<std::string> searched;
    std::string settingsPath, bytes;
    if (!LocateSettings([&](const std::string& folder) { searched.push_back(folder); }, settingsPath, bytes)) {
        std::fprintf(stderr, "orvelane: no readable Orvelane.ini in %s%s%s: no plug-in to teach\n",
                     searched.front().c_str(), searched.size() > 1 ? " nor in " : "",
                     searched.size() > 1 ? searched.back().c_str() : "");
        return 2;
    }
    CSettings settings;
    ParseSettings(bytes, settings);
    CStderrLog log;
    CMailDecoder decoder;
    CTextTools tools;
    CPlugIns plugIns(log, settings, decoder, tools);
    plugIns.Load();
    std::vector<SEngineCount> engines;
    for (const std::string& name : settings.m_plugInNames) {
        const std::string base = name.substr(name.find_last_of("/\\") + 1);
        bool loaded = false;
        for (const CPlugIn* plugIn : plugIns.Loaded())
            loaded = loaded || plugIn->GetName() == base;
        if (!loaded)
            std::fprintf(stderr, "orvelane: plug-in %s not loaded (from %s)\n", name.c_str(),
                         plugIns.Resolve(name).c_str());
    }
    for (const CPlugIn* plugIn : plugIns.Loaded())
        if (plugIn->Learns()) {
            engines.emplace_back();
            engines.back().plugIn = plugIn;
        }
    if (engines.empty()) {
        std::fprintf(stderr,
                     "orvelane: none of the plug-ins of %s can learn%s: add a PlugIn= line for an engine "
                     "that learns (bogofilter, spamd, ...)\n",
                     settingsPath.c_str(), settings.m_plugInNames.empty() ? " (it names none)" : "");
        return 2;
    }

    int64_t tooBig = 0, empty = 0, unreadable = 0, read = 0;
    bool readFailed = false;
    {
        CLearner learner(engines, spam);
        for (const std::string& path : readPaths) {
            SMailPathReport report;
            std::string error;
            const EMailPathKind kind = MailPathKind(path, &error);
            if (!ReadMailPath(path, kMaxMailFileMessage,
                              [&](SMailFileMessage&& message) {
                                  learner.Add(std::move(message));
                                  return true;
                              },
                              report, error)) {
                std::fprintf(stderr, "orvelane: cannot read %s: %s\n", path.c_str(), error.c_str());
                readFailed = true;
            }
            for (const std::string& problem : report.unreadable)
                std::fprintf(stderr, "orvelane: cannot read %s\n", problem.c_str());
            if (report.messages == 0 || report.tooBig || report.empty || !report.unreadable.empty())
                std::fprintf(stderr, "orvelane: %s (%s): %lld messages, %lld over %lld bytes, %lld empty, %zu unreadable\n",
                             path.c_str(), KindName(kind), (long long)report.messages, (long long)report.tooBig,
                             (long long)kMaxMailFileMessage, (long long)report.empty, report.unreadable.size());
            read += report.messages;
            tooBig += report.tooBig;
            empty += report.empty;
            unreadable += int64_t(report.unreadable.size());
        }
        learner.Finish();
    }

    int64_t taught = 0;
    std::fprintf(stderr, "orvelane: %lld messages read as %s from %zu PATH(s); skipped: %lld too big, %lld empty, %lld unreadable\n",
                 (long long)read, spam ? "spam" : "ham", paths.size(), (long long)tooBig, (long long)empty,
                 (long long)unreadable);
    for (const SEngineCount& engine : engines) {
        std::fprintf(stderr, "  %s: %lld taught, %lld skipped (nothing to learn or known already), %lld failed\n",
                     engine.plugIn->GetName().c_str(), (long long)engine.taught, (long long)engine.skipped,
                     (long long)engine.failed);
        if (engine.failed)
            std::fprintf(stderr, "    first failure: %s\n", engine.firstFailure.c_str());
        taught += engine.taught;
    }
    if (readFailed)
        return 2;
    if (taught == 0) {
        std::fprintf(stderr, "orvelane: nothing was taught\n");
        return 1;
    }
    return 0;
}
