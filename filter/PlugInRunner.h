// The plug-in calls of the analysis, on worker threads.
//
// A chain is the plug-ins' part of one message's analysis: the loaded
// plug-ins asked in turn, until one says spam. It runs away from the
// event-loop thread, so a slow engine holds no window and no mail client;
// the analysis takes the outcomes, and writes their log lines in their place,
// once the chain has settled.
//
// Every call is bounded: past its time-out the chain goes on without it (the
// call counts as "not judged", its plug-in is left out for the rest of the
// mail check), a new thread takes the place of the one still inside the
// call, and that call's library stays loaded until it returns.
#pragma once

#include "base/LogSink.h"
#include "filter/PlugIn.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// One plug-in of a chain.
struct SPlugInCall {
    std::shared_ptr<SPlugInLibrary> library;
    std::string name;
};

// What one plug-in of a chain answered.
struct SPlugInOutcome {
    std::string name;
    bool checked = false; // judged through OrvelaneCheck (else Analyse)
    bool spam = false;    // Analyse's answer, or a spam verdict
    SPlugInVerdict verdict;
    SPlugInLearning learning; // for a chain that teaches
    enum EFault { kNone, kTimedOut, kLeftOut } fault = kNone;
    CCapturedLog log; // the lines it wrote while it was asked
};

class CPlugInChain
{
public:
    // What the plug-ins are handed: the message as stored, the BODY rules
    // joined by "|", the server and the USER line.
    std::string m_strText;
    std::string m_strRules;
    std::string m_strServer;
    std::string m_strUser;
    std::vector<SPlugInCall> m_calls;
    // Tells what the chain was built from (plug-ins, options, rules, text);
    // a chain is used only for the same.
    std::string m_strSignature;
    // -1: the calls judge the text, up to the first spam. 1 or 0: they teach
    // it as spam or as not spam, every one of them in turn.
    int32_t m_nLearn = -1;
    // Called once when the chain has settled, from whichever thread.
    std::function<void()> m_onSettled;

    bool Settled() const;
    // The outcomes in order, up to the first spam; once settled.
    std::vector<SPlugInOutcome> TakeOutcomes();
    // Decided before it began that no plug-in is to be asked (a built-in
    // filter marks the message): settled with no outcome.
    bool Skipped() const;

private:
    friend class CPlugInRunner;
    friend struct SRunnerState;
    enum class EState { kWaiting, kQueued, kSettled } m_state = EState::kWaiting;
    bool m_bSkipped = false;
    size_t m_nNext = 0; // the call to make next
    std::vector<SPlugInOutcome> m_outcomes;
    std::shared_ptr<struct SRunnerState> m_pRunner; // while queued or running
};

class CPlugInRunner
{
public:
    // `threads` worker threads (started on first use); `window` is where
    // log lines from outside any call go (may be null).
    explicit CPlugInRunner(int threads = 4);
    ~CPlugInRunner();
    CPlugInRunner(const CPlugInRunner&) = delete;
    CPlugInRunner& operator=(const CPlugInRunner&) = delete;

    // The window plug-ins are handed: lines written during a call are kept
    // with its outcome; others go on to `outer`.
    void SetOuterWindow(OrvelaneWindow* outer, uint32_t setLogMessage);
    OrvelaneWindow* Window();
    // The time-out of each call, in milliseconds.
    void SetTimeout(int64_t ms);
    int64_t Timeout() const;

    // Queues the chain; its calls begin when a thread is free.
    void Start(const std::shared_ptr<CPlugInChain>& chain);
    // Settles a chain that was never started: no plug-in is asked.
    void Skip(const std::shared_ptr<CPlugInChain>& chain);
    // Waits until the chain has settled (starting it when it was not).
    void Wait(const std::shared_ptr<CPlugInChain>& chain);
    // Calls `settled` once the chain has settled: at once when it has, else
    // from the thread that settles it.
    void WhenSettled(const std::shared_ptr<CPlugInChain>& chain, std::function<void()> settled);
    // A new mail check: plug-ins left out after a time-out are asked again.
    void NewCheck();
    // Calls made so far that ran past their time-out.
    int64_t TimedOut() const;

private:
    std::shared_ptr<SRunnerState> m_pState;
};
