#include "filter/BodyWorker.h"

#include "filter/BodyRules.h"
#include "filter/MessageHeader.h"

#include <algorithm>

CBodyWorker::CBodyWorker(int threads) : m_nThreads(std::max(threads, 1)) {}

CBodyWorker::~CBodyWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
        m_queue.clear();
    }
    m_queued.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

int CBodyWorker::DefaultThreads()
{
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(processors - 1, 1, 4);
}

std::shared_ptr<CBodyJob> CBodyWorker::Submit(std::string text, std::shared_ptr<const CBodyRules> rules,
                                              bool debug)
{
    auto job = std::make_shared<CBodyJob>(std::move(text), std::move(rules), debug);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_threads.empty())
            for (int i = 0; i < m_nThreads; ++i)
                m_threads.emplace_back([this] { Loop(); });
        m_queue.push_back(job);
    }
    m_queued.notify_one();
    return job;
}

SBodyVerdict CBodyWorker::Collect(CBodyJob& job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (job.m_state == CBodyJob::EState::kPending) {
        // Not begun: cheaper to run it here than to wait for a thread.
        job.m_state = CBodyJob::EState::kRunning;
        lock.unlock();
        Run(job);
        lock.lock();
        job.m_state = CBodyJob::EState::kDone;
    }
    m_done.wait(lock, [&job] { return job.m_state == CBodyJob::EState::kDone; });
    return std::move(job.m_verdict);
}

void CBodyWorker::Run(CBodyJob& job)
{
    const SBodyMatchers matchers = job.m_pRules ? job.m_pRules->Matchers() : SBodyMatchers();
    job.m_verdict = RunBodyPasses(WithStatusLine(job.m_strText), matchers, job.m_bDebug);
}

void CBodyWorker::Loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_queued.wait(lock, [this] { return m_bStopping || !m_queue.empty(); });
        if (m_bStopping)
            return;
        std::shared_ptr<CBodyJob> job = m_queue.front().lock();
        m_queue.pop_front();
        if (!job || job->m_state != CBodyJob::EState::kPending)
            continue;
        job->m_state = CBodyJob::EState::kRunning;
        lock.unlock();
        Run(*job);
        ++m_nBackground;
        lock.lock();
        job->m_state = CBodyJob::EState::kDone;
        m_done.notify_all();
    }
}
