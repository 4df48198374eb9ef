#include "audio/MainThreadQueue.h"

#include <algorithm>
#include <vector>

class TMainThreadLoop::TTimer final : public IMainThreadTimer {
public:
    TTimer(TMainThreadLoop& loop, uint64_t id, std::shared_ptr<TTimerRec> rec)
        : FLoop(loop), FId(id), FRec(std::move(rec)) {}
    ~TTimer() override { FLoop.RemoveTimer(FId); }

    void SetEnabled(bool enabled) override {
        if (enabled && !FRec->Enabled) FRec->Due = TClock::now() + FRec->Interval;
        FRec->Enabled = enabled;
    }
    bool Enabled() const override { return FRec->Enabled; }

private:
    TMainThreadLoop& FLoop;
    uint64_t FId;
    std::shared_ptr<TTimerRec> FRec;
};

TMainThreadLoop::~TMainThreadLoop() = default;

void TMainThreadLoop::Post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FPosted.push_back(std::move(fn));
    }
    FChanged.notify_all();
}

void TMainThreadLoop::Wake() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FWoken = true;
    }
    FChanged.notify_all();
}

size_t TMainThreadLoop::PendingCount() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPosted.size();
}

std::unique_ptr<IMainThreadTimer> TMainThreadLoop::CreateTimer(std::chrono::milliseconds interval,
                                                               std::function<void()> onTimer) {
    auto rec = std::make_shared<TTimerRec>();
    rec->Interval = std::max(interval, std::chrono::milliseconds(1));
    rec->Due = TClock::now() + rec->Interval;
    rec->Fn = std::move(onTimer);
    const uint64_t id = FNextTimerId++;
    FTimers.emplace(id, rec);
    return std::make_unique<TTimer>(*this, id, std::move(rec));
}

void TMainThreadLoop::RemoveTimer(uint64_t id) { FTimers.erase(id); }

void TMainThreadLoop::RunPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> lock(FLock);
        work.swap(FPosted);
        FWoken = false;
    }
    for (auto& fn : work)
        if (fn) fn();
}

void TMainThreadLoop::RunTimers() {
    const auto now = TClock::now();
    std::vector<uint64_t> due;
    for (const auto& [id, rec] : FTimers)
        if (rec->Enabled && rec->Due <= now) due.push_back(id);
    for (uint64_t id : due) {
        auto it = FTimers.find(id);
        if (it == FTimers.end()) continue;  // destroyed by an earlier callback
        // Held while it runs: the callback may destroy its own timer.
        std::shared_ptr<TTimerRec> rec = it->second;
        if (!rec->Enabled) continue;
        rec->Due += rec->Interval;
        if (rec->Due <= now) rec->Due = now + rec->Interval;  // no bursts after a stall
        if (rec->Fn) rec->Fn();
    }
}

TMainThreadLoop::TClock::time_point TMainThreadLoop::NextDue(TClock::time_point limit) const {
    for (const auto& [id, rec] : FTimers)
        if (rec->Enabled) limit = std::min(limit, rec->Due);
    return limit;
}

void TMainThreadLoop::ProcessPending() {
    RunPosted();
    RunTimers();
}

bool TMainThreadLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds poll) {
    const auto deadline = TClock::now() + timeout;
    poll = std::max(poll, std::chrono::milliseconds(1));
    for (;;) {
        ProcessPending();
        if (done()) return true;
        const auto now = TClock::now();
        if (now >= deadline) return false;
        const auto until = NextDue(std::min(deadline, now + poll));
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait_until(lock, until, [this] { return !FPosted.empty() || FWoken; });
        FWoken = false;
    }
}
