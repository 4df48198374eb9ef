// The main thread as the audio engine sees it: a queue of work that runs on the main
// thread, and repeating timers that fire there.
//
// The route engine keeps audio data on its own data threads. What must happen on the
// main thread - reporting levels every 100 ms, carrying out a stop that a data thread
// asked for - goes through this interface, so the engine needs no window system:
//
//   - Post(fn) may be called from any thread; fn runs later on the main thread, in
//     posting order. Work posted after the queue has ended is dropped.
//   - CreateTimer(interval, fn) is called on the main thread; the timer is enabled from
//     creation and calls fn on the main thread every interval until it is disabled or
//     destroyed. Destroying the timer (on the main thread) guarantees fn is not called
//     again, also when the timer is destroyed from inside fn.
//
// Whoever owns the main thread implements it:
//
//   - A window program implements it over its event loop. With Qt, a QObject living on
//     the GUI thread does both: Post is
//         QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
//     and CreateTimer returns a small IMainThreadTimer that owns a QTimer (parented to
//     nothing, living on the GUI thread) whose timeout signal calls fn and which is
//     started with the interval; SetEnabled starts or stops it. Queued invocations whose
//     target object is gone are dropped by Qt, which matches the rule above.
//   - Programs without windows (the route command, tests, benchmarks) use
//     TMainThreadLoop below and run it on the thread that created the routes.
//
// The queue must outlive every route that uses it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class IMainThreadTimer {
public:
    virtual ~IMainThreadTimer() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

class IMainThreadQueue {
public:
    virtual ~IMainThreadQueue() = default;
    // Any thread. Runs Fn on the main thread soon, in posting order.
    virtual void Post(std::function<void()> fn) = 0;
    // Main thread. A repeating timer, enabled from creation.
    virtual std::unique_ptr<IMainThreadTimer> CreateTimer(std::chrono::milliseconds interval,
                                                          std::function<void()> onTimer) = 0;
};

// A main loop of its own. The thread that runs RunUntil or ProcessPending is the main
// thread; timers are created and destroyed on it.
class TMainThreadLoop final : public IMainThreadQueue {
public:
    TMainThreadLoop() = default;
    ~TMainThreadLoop() override;
    TMainThreadLoop(const TMainThreadLoop&) = delete;
    TMainThreadLoop& operator=(const TMainThreadLoop&) = delete;

    void Post(std::function<void()> fn) override;
    std::unique_ptr<IMainThreadTimer> CreateTimer(std::chrono::milliseconds interval,
                                                  std::function<void()> onTimer) override;

    // Runs posted work and due timers until Done holds or Timeout has passed; true when
    // Done held. Done is checked after every round of work and at least every Poll, so
    // it may read state that changes without a Post (a flag set by a signal handler).
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                  std::chrono::milliseconds poll = std::chrono::milliseconds(20));
    // Runs the posted work and the timers that are due now, without waiting.
    void ProcessPending();
    // Any thread: makes a waiting RunUntil check Done at once.
    void Wake();
    // Work posted and not run yet.
    size_t PendingCount() const;

private:
    class TTimer;
    struct TTimerRec {
        std::chrono::milliseconds Interval;
        std::chrono::steady_clock::time_point Due;
        std::function<void()> Fn;
        bool Enabled = true;
    };
    using TClock = std::chrono::steady_clock;

    void RunPosted();
    void RunTimers();
    TClock::time_point NextDue(TClock::time_point limit) const;
    void RemoveTimer(uint64_t id);

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::function<void()>> FPosted;  // guarded by FLock
    bool FWoken = false;                        // guarded by FLock
    // Main thread only.
    std::map<uint64_t, std::shared_ptr<TTimerRec>> FTimers;
    uint64_t FNextTimerId = 1;
};
