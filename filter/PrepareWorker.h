// Background threads that prepare each message's analysis as soon as its
// download ends: the analysis text, the header fields and the verdict of the
// body passes. The analysis at the end of a scan then finds most of its work
// done, and that work overlapped the network wait.
//
// The one who needs a result (the analysis, on the event-loop thread)
// collects it: a job no thread has begun yet is run right there; while one
// under way is waited for, the collector runs the jobs queued after it. Jobs are
// held weakly by the queue; a job its owner has dropped is never begun.
#pragma once

#include "decode/HeaderExtraction.h"
#include "filter/BodyPasses.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CCompiledRuleFile;

// What a job prepares for one message.
struct SPreparedAnalysis {
    std::string analysisText;           // the text the job was given
    CHeaderFields fields;               // ReadHeaderFields of the analysis text
    CCapturedLog headerLog; // the lines reading the fields wrote
    SBodyVerdict body;                  // the body passes with `rules` and `debug`
    const CCompiledRuleFile* rules = nullptr;
    bool debug = false;
};

class CPrepareJob
{
public:
    // What is done with the result as soon as it is there, on the thread
    // that prepared it.
    using Then = std::function<void(const SPreparedAnalysis&)>;

    CPrepareJob(std::string analysisText, std::shared_ptr<const CCompiledRuleFile> rules, bool debug,
                Then then = {})
        : m_strText(std::move(analysisText)), m_pRules(std::move(rules)), m_bDebug(debug), m_then(std::move(then))
    {
    }
    // Prepared: collecting the result takes no time. Any thread may ask.
    bool Ready() const { return m_bReady.load(std::memory_order_acquire); }

private:
    friend class CPrepareWorker;
    enum class EState { kPending, kRunning, kDone };

    std::string m_strText; // handed on to the result
    const std::shared_ptr<const CCompiledRuleFile> m_pRules;
    const bool m_bDebug;
    Then m_then;
    EState m_state = EState::kPending; // guarded by the worker's mutex
    std::atomic<bool> m_bReady{false};  // the result waits to be collected
    SPreparedAnalysis m_result;
};

class CPrepareWorker
{
public:
    // `threads` background threads (at least one), started on first use.
    explicit CPrepareWorker(int threads = DefaultThreads());
    ~CPrepareWorker();
    CPrepareWorker(const CPrepareWorker&) = delete;
    CPrepareWorker& operator=(const CPrepareWorker&) = delete;

    // One fewer than the processors, at least 1 and at most 4: the analysis's
    // thread takes its share when it collects.
    static int DefaultThreads();

    // Queues the preparation of a message from its analysis text (see
    // WithStatusLine) with `rules`.
    std::shared_ptr<CPrepareJob> Submit(std::string analysisText, std::shared_ptr<const CCompiledRuleFile> rules,
                                        bool debug, CPrepareJob::Then then = {});
    // Has `rules` compiled by a background thread before any job needs them.
    void CompileAhead(std::shared_ptr<const CCompiledRuleFile> rules);
    // The job's result, once; runs the job on this thread when no thread has
    // begun it.
    SPreparedAnalysis Collect(CPrepareJob& job);
    // Jobs run by the background threads so far (the others were run by
    // the collector, or never).
    int64_t RunInBackground() const { return m_nBackground.load(); }

    // The preparation itself.
    static SPreparedAnalysis Prepare(std::string analysisText, const CCompiledRuleFile* rules, bool debug);

private:
    void StartThreads(); // with the mutex held
    // Runs a pending job with `lock` (on the mutex) released meanwhile.
    void Run(CPrepareJob& job, std::unique_lock<std::mutex>& lock);
    // The first queued job no thread has begun and its owner still holds,
    // taken off the queue; null when there is none. Called with the lock held.
    std::shared_ptr<CPrepareJob> TakeQueued();
    void Loop();

    const int m_nThreads;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_done;
    std::deque<std::weak_ptr<CPrepareJob>> m_queue;
    std::deque<std::shared_ptr<const CCompiledRuleFile>> m_compileQueue; // taken before any job
    std::vector<std::thread> m_threads;
    bool m_bStopping = false;
    std::atomic<int64_t> m_nBackground{0};
};
