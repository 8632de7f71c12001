// Background threads that run the body passes over messages as they finish
// downloading, so the analysis at the end of a scan finds most verdicts ready
// and the searching overlaps the network wait.
//
// The one who needs a verdict (the hub's thread) collects it: a job no thread
// has begun yet is run right there, one under way is waited for. Jobs are
// held weakly by the queue; a job its owner has dropped is never begun.
#pragma once

#include "filter/BodyPasses.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CBodyRules;

class CBodyJob
{
public:
    CBodyJob(std::string text, std::shared_ptr<const CBodyRules> rules, bool debug)
        : m_strText(std::move(text)), m_pRules(std::move(rules)), m_bDebug(debug)
    {
    }
    // The stored message text the verdict is for, the rules and the debug
    // flag it is computed with.
    const std::string& Text() const { return m_strText; }
    const CBodyRules* Rules() const { return m_pRules.get(); }
    bool Debug() const { return m_bDebug; }

private:
    friend class CBodyWorker;
    enum class EState { kPending, kRunning, kDone };

    const std::string m_strText;
    const std::shared_ptr<const CBodyRules> m_pRules;
    const bool m_bDebug;
    EState m_state = EState::kPending; // guarded by the worker's mutex
    SBodyVerdict m_verdict;
};

class CBodyWorker
{
public:
    // `threads` background threads (at least one), started on first use.
    explicit CBodyWorker(int threads = DefaultThreads());
    ~CBodyWorker();
    CBodyWorker(const CBodyWorker&) = delete;
    CBodyWorker& operator=(const CBodyWorker&) = delete;

    // One fewer than the processors, at least 1 and at most 4: the hub's
    // thread takes its share when it collects.
    static int DefaultThreads();

    // Queues the passes over `text` (a stored message, without its "Status:"
    // line) with `rules`.
    std::shared_ptr<CBodyJob> Submit(std::string text, std::shared_ptr<const CBodyRules> rules, bool debug);
    // The job's verdict, once; runs it on this thread when no thread has
    // begun it.
    SBodyVerdict Collect(CBodyJob& job);
    // Jobs run by the background threads so far (the others were run by
    // the collector, or never).
    int64_t RunInBackground() const { return m_nBackground.load(); }

private:
    static void Run(CBodyJob& job);
    void Loop();

    const int m_nThreads;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_done;
    std::deque<std::weak_ptr<CBodyJob>> m_queue;
    std::vector<std::thread> m_threads;
    bool m_bStopping = false;
    std::atomic<int64_t> m_nBackground{0};
};
