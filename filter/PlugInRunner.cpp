#include "filter/PlugInRunner.h"

#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/PlugIns.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <list>

using Clock = std::chrono::steady_clock;

namespace {

// One call under way.
struct SCall {
    std::shared_ptr<CPlugInChain> chain;
    std::string name;
    Clock::time_point deadline;
    bool abandoned = false;
    CCapturedLog log;
    struct SRunnerState* state = nullptr;
};

thread_local SCall* t_pCall = nullptr;

} // namespace

// Shared by the runner and its threads: a thread still inside a call when
// the runner goes keeps it alive.
struct SRunnerState : std::enable_shared_from_this<SRunnerState> {
    std::mutex mutex;
    std::condition_variable queued;   // workers wait for chains
    std::condition_variable settled;  // Wait() waits for its chain
    std::condition_variable watch;    // the watchdog waits for deadlines
    std::condition_variable gone;     // the destructor waits for the threads
    std::deque<std::shared_ptr<CPlugInChain>> queue;
    std::list<std::shared_ptr<SCall>> running;
    std::set<std::string> leftOut;
    int target = 1;
    int workers = 0;   // threads taking chains (not counting those stuck in a call)
    int threads = 0;   // threads that will end when stopping (workers and the watchdog)
    bool started = false;
    bool stopping = false;
    int64_t timeoutMs = 10000;
    int64_t timedOut = 0;
    OrvelaneWindow window{};
    OrvelaneWindow* outer = nullptr;
    uint32_t setLogMessage = 0;

    static intptr_t SendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
    void StartLocked();
    void SpawnWorker();
    void Work();
    void Watch();
    // Records the outcome of the chain's current call and moves it on;
    // returns what is to be called once the lock is released.
    std::function<void()> Advance(const std::shared_ptr<CPlugInChain>& chain, SPlugInOutcome outcome);
    std::function<void()> Settle(const std::shared_ptr<CPlugInChain>& chain);
    static SPlugInOutcome Call(const SPlugInCall& call, const CPlugInChain& chain, OrvelaneWindow* window,
                               uint32_t setLogMessage);
};

bool CPlugInChain::Settled() const
{
    if (!m_pRunner)
        return m_state == EState::kSettled;
    std::lock_guard<std::mutex> lock(m_pRunner->mutex);
    return m_state == EState::kSettled;
}

bool CPlugInChain::Skipped() const
{
    return Settled() && m_bSkipped;
}

std::vector<SPlugInOutcome> CPlugInChain::TakeOutcomes()
{
    if (!Settled())
        return {};
    return std::move(m_outcomes);
}

CPlugInRunner::CPlugInRunner(int threads) : m_pState(std::make_shared<SRunnerState>())
{
    m_pState->target = std::max(threads, 1);
    m_pState->window.size = sizeof(OrvelaneWindow);
    m_pState->window.SendMessage = &SRunnerState::SendMessage;
    m_pState->window.host = m_pState.get();
}

CPlugInRunner::~CPlugInRunner()
{
    std::unique_lock<std::mutex> lock(m_pState->mutex);
    m_pState->stopping = true;
    m_pState->outer = nullptr;
    m_pState->queue.clear();
    m_pState->queued.notify_all();
    m_pState->watch.notify_all();
    // Threads inside a call that has timed out are not waited for.
    m_pState->gone.wait(lock, [this] { return m_pState->threads == 0; });
}

void CPlugInRunner::SetOuterWindow(OrvelaneWindow* outer, uint32_t setLogMessage)
{
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->outer = outer;
    m_pState->setLogMessage = setLogMessage;
}

OrvelaneWindow* CPlugInRunner::Window()
{
    return &m_pState->window;
}

void CPlugInRunner::SetTimeout(int64_t ms)
{
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->timeoutMs = std::max<int64_t>(ms, 1);
}

int64_t CPlugInRunner::Timeout() const
{
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->timeoutMs;
}

int64_t CPlugInRunner::TimedOut() const
{
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->timedOut;
}

void CPlugInRunner::NewCheck()
{
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->leftOut.clear();
}

void CPlugInRunner::Start(const std::shared_ptr<CPlugInChain>& chain)
{
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> lock(m_pState->mutex);
        if (!chain || chain->m_state != CPlugInChain::EState::kWaiting)
            return;
        chain->m_pRunner = m_pState;
        if (chain->m_calls.empty() || m_pState->stopping) {
            notify = m_pState->Settle(chain);
        } else {
            chain->m_state = CPlugInChain::EState::kQueued;
            m_pState->StartLocked();
            m_pState->queue.push_back(chain);
            m_pState->queued.notify_one();
        }
    }
    if (notify)
        notify();
}

void CPlugInRunner::Skip(const std::shared_ptr<CPlugInChain>& chain)
{
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> lock(m_pState->mutex);
        if (!chain || chain->m_state != CPlugInChain::EState::kWaiting)
            return;
        chain->m_pRunner = m_pState;
        chain->m_bSkipped = true;
        notify = m_pState->Settle(chain);
    }
    if (notify)
        notify();
}

void CPlugInRunner::Wait(const std::shared_ptr<CPlugInChain>& chain)
{
    if (!chain)
        return;
    Start(chain);
    std::unique_lock<std::mutex> lock(m_pState->mutex);
    m_pState->settled.wait(lock, [&chain] { return chain->m_state == CPlugInChain::EState::kSettled; });
}

void CPlugInRunner::WhenSettled(const std::shared_ptr<CPlugInChain>& chain, std::function<void()> settled)
{
    if (!chain || !settled)
        return;
    {
        std::lock_guard<std::mutex> lock(m_pState->mutex);
        if (chain->m_state != CPlugInChain::EState::kSettled) {
            chain->m_onSettled = std::move(settled);
            return;
        }
    }
    settled();
}

void SRunnerState::StartLocked()
{
    if (started)
        return;
    started = true;
    for (int i = 0; i < target; ++i)
        SpawnWorker();
    ++threads;
    std::thread([self = shared_from_this()] { self->Watch(); }).detach();
}

void SRunnerState::SpawnWorker()
{
    ++workers;
    ++threads;
    std::thread([self = shared_from_this()] { self->Work(); }).detach();
}

std::function<void()> SRunnerState::Settle(const std::shared_ptr<CPlugInChain>& chain)
{
    chain->m_state = CPlugInChain::EState::kSettled;
    settled.notify_all();
    return std::move(chain->m_onSettled);
}

std::function<void()> SRunnerState::Advance(const std::shared_ptr<CPlugInChain>& chain, SPlugInOutcome outcome)
{
    const bool spam = outcome.spam && chain->m_nLearn < 0;
    chain->m_outcomes.push_back(std::move(outcome));
    if (spam || ++chain->m_nNext >= chain->m_calls.size() || stopping)
        return Settle(chain);
    // The chains begun first go on first: the analysis takes them in order.
    queue.push_front(chain);
    queued.notify_one();
    return {};
}

void SRunnerState::Work()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        queued.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping)
            break;
        std::shared_ptr<CPlugInChain> chain = std::move(queue.front());
        queue.pop_front();
        const SPlugInCall& call = chain->m_calls[chain->m_nNext];
        std::function<void()> notify;
        if (leftOut.count(call.name)) {
            SPlugInOutcome outcome;
            outcome.name = call.name;
            outcome.fault = SPlugInOutcome::kLeftOut;
            notify = Advance(chain, std::move(outcome));
        } else {
            auto current = std::make_shared<SCall>();
            current->chain = chain;
            current->name = call.name;
            current->deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            current->state = this;
            running.push_back(current);
            watch.notify_one();
            OrvelaneWindow* handle = &window;
            const uint32_t setLog = setLogMessage;
            lock.unlock();
            t_pCall = current.get();
            SPlugInOutcome outcome = Call(call, *chain, handle, setLog);
            t_pCall = nullptr;
            lock.lock();
            running.remove(current);
            if (current->abandoned) {
                // The watchdog has moved the chain on and put another thread
                // in this one's place (and no longer counts this one).
                if (workers >= target || stopping) {
                    gone.notify_all();
                    return;
                }
                ++workers;
                ++threads;
                continue;
            }
            outcome.log = std::move(current->log);
            notify = Advance(chain, std::move(outcome));
        }
        if (notify) {
            lock.unlock();
            notify();
            lock.lock();
        }
    }
    --workers;
    --threads;
    gone.notify_all();
}

void SRunnerState::Watch()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        Clock::time_point next = Clock::time_point::max();
        for (const auto& call : running)
            if (!call->abandoned)
                next = std::min(next, call->deadline);
        if (next == Clock::time_point::max())
            watch.wait(lock);
        else
            watch.wait_until(lock, next);
        if (stopping)
            break;
        const Clock::time_point now = Clock::now();
        std::vector<std::function<void()>> notify;
        for (const auto& call : running) {
            if (call->abandoned || call->deadline > now)
                continue;
            call->abandoned = true;
            ++timedOut;
            leftOut.insert(call->name);
            SPlugInOutcome outcome;
            outcome.name = call->name;
            outcome.fault = SPlugInOutcome::kTimedOut;
            outcome.log = std::move(call->log);
            // The thread inside the call no longer counts; another takes its place.
            --workers;
            --threads;
            SpawnWorker();
            if (auto done = Advance(call->chain, std::move(outcome)))
                notify.push_back(std::move(done));
        }
        gone.notify_all();
        if (!notify.empty()) {
            lock.unlock();
            for (auto& done : notify)
                done();
            lock.lock();
        }
    }
    --threads;
    gone.notify_all();
}

SPlugInOutcome SRunnerState::Call(const SPlugInCall& call, const CPlugInChain& chain, OrvelaneWindow* window,
                                  uint32_t setLogMessage)
{
    SPlugInOutcome outcome;
    outcome.name = call.name;
    const SPlugInLibrary& library = *call.library;
    if (chain.m_nLearn >= 0) {
        outcome.learning = library.Learn(chain.m_strText, chain.m_nLearn != 0);
        return outcome;
    }
    if (library.check) {
        outcome.checked = true;
        outcome.verdict = library.Check(chain.m_strText);
        outcome.spam = outcome.verdict.verdict == ORVELANE_SPAM;
        return outcome;
    }
    CMailDecoder decoder;
    const CTextTools tools;
    const std::string text = PreparePlugInText(chain.m_strText, library.Level(), decoder, tools);
    outcome.spam = library.Analyse(text.c_str(), chain.m_strRules.c_str(), chain.m_strServer.c_str(),
                                   chain.m_strUser.c_str(), window, setLogMessage);
    return outcome;
}

intptr_t SRunnerState::SendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (!window || !window->host)
        return 0;
    auto* self = static_cast<SRunnerState*>(window->host);
    OrvelaneWindow* outer = nullptr;
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        const char* text = reinterpret_cast<const char*>(lParam);
        SCall* call = t_pCall;
        if (message == self->setLogMessage && text && call && call->state == self && !call->abandoned) {
            call->log.AddLog(std::string(text), true);
            return 0;
        }
        outer = self->stopping ? nullptr : self->outer;
    }
    // Outside a call (or after its time-out) the line goes to the log at once.
    return outer && outer->SendMessage ? outer->SendMessage(outer, message, wParam, lParam) : 0;
}
