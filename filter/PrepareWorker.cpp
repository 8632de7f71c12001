#include "filter/PrepareWorker.h"

#include "decode/MailDecoder.h"
#include "filter/RuleCache.h"

#include <algorithm>

CPrepareWorker::CPrepareWorker(int threads) : m_nThreads(std::max(threads, 1)) {}

CPrepareWorker::~CPrepareWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
        m_queue.clear();
        m_compileQueue.clear();
    }
    m_queued.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

int CPrepareWorker::DefaultThreads()
{
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(processors - 1, 1, 4);
}

std::shared_ptr<CPrepareJob> CPrepareWorker::Submit(std::string analysisText,
                                                    std::shared_ptr<const CCompiledRuleFile> rules, bool debug,
                                                    CPrepareJob::Then then)
{
    auto job = std::make_shared<CPrepareJob>(std::move(analysisText), std::move(rules), debug, std::move(then));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StartThreads();
        m_queue.push_back(job);
    }
    m_queued.notify_one();
    return job;
}

void CPrepareWorker::CompileAhead(std::shared_ptr<const CCompiledRuleFile> rules)
{
    if (!rules)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StartThreads();
        m_compileQueue.push_back(std::move(rules));
    }
    m_queued.notify_one();
}

void CPrepareWorker::StartThreads()
{
    if (m_threads.empty())
        for (int i = 0; i < m_nThreads; ++i)
            m_threads.emplace_back([this] { Loop(); });
}

SPreparedAnalysis CPrepareWorker::Collect(CPrepareJob& job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (job.m_state == CPrepareJob::EState::kPending)
        Run(job, lock); // not begun: cheaper to run it here than to wait for a thread
    // Under way on a thread: rather than wait idle, this thread takes on the
    // next queued jobs, which the analysis needs soon after. Only this thread
    // queues jobs, so none arrive while it waits.
    while (job.m_state != CPrepareJob::EState::kDone) {
        if (std::shared_ptr<CPrepareJob> next = TakeQueued())
            Run(*next, lock);
        else
            m_done.wait(lock, [&job] { return job.m_state == CPrepareJob::EState::kDone; });
    }
    return std::move(job.m_result);
}

std::shared_ptr<CPrepareJob> CPrepareWorker::TakeQueued()
{
    while (!m_queue.empty()) {
        std::shared_ptr<CPrepareJob> job = m_queue.front().lock();
        m_queue.pop_front();
        if (job && job->m_state == CPrepareJob::EState::kPending)
            return job;
    }
    return nullptr;
}

void CPrepareWorker::Run(CPrepareJob& job, std::unique_lock<std::mutex>& lock)
{
    job.m_state = CPrepareJob::EState::kRunning;
    lock.unlock();
    job.m_result = Prepare(std::move(job.m_strText), job.m_pRules.get(), job.m_bDebug);
    if (job.m_then) {
        job.m_then(job.m_result);
        job.m_then = nullptr;
    }
    lock.lock();
    job.m_state = CPrepareJob::EState::kDone;
    job.m_bReady.store(true, std::memory_order_release);
    m_done.notify_all();
}

SPreparedAnalysis CPrepareWorker::Prepare(std::string analysisText, const CCompiledRuleFile* rules, bool debug)
{
    SPreparedAnalysis result;
    result.analysisText = std::move(analysisText);
    result.rules = rules;
    result.debug = debug;
    CMailDecoder decoder;
    decoder.SetLog(&result.headerLog);
    result.fields = ReadHeaderFields(result.analysisText, decoder);
    if (rules)
        result.body = RunBodyPasses(result.analysisText, rules->Matchers(), debug);
    return result;
}

void CPrepareWorker::Loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_queued.wait(lock, [this] { return m_bStopping || !m_queue.empty() || !m_compileQueue.empty(); });
        if (m_bStopping)
            return;
        if (!m_compileQueue.empty()) {
            std::shared_ptr<const CCompiledRuleFile> rules = std::move(m_compileQueue.front());
            m_compileQueue.pop_front();
            lock.unlock();
            rules->Compile(); // once, whoever comes first
            rules.reset();
            lock.lock();
            continue;
        }
        std::shared_ptr<CPrepareJob> job = TakeQueued();
        if (!job)
            continue;
        Run(*job, lock);
        ++m_nBackground;
    }
}
