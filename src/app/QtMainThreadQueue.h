// The main thread of a window program as the audio engine sees it (MainThreadQueue.h):
// posted work and repeating timers on Qt's event loop.
//
// Post may be called from any thread; the work runs on the thread that created the
// queue (the GUI thread), in posting order. Work still queued when the queue is
// destroyed is dropped. Timers are QTimers on the GUI thread; destroying one from
// inside its own callback is safe.
#pragma once

#include "audio/MainThreadQueue.h"

#include <memory>

class QObject;

class TQtMainThreadQueue final : public IMainThreadQueue {
public:
    TQtMainThreadQueue();
    ~TQtMainThreadQueue() override;
    TQtMainThreadQueue(const TQtMainThreadQueue&) = delete;
    TQtMainThreadQueue& operator=(const TQtMainThreadQueue&) = delete;

    void Post(std::function<void()> fn) override;
    std::unique_ptr<IMainThreadTimer> CreateTimer(std::chrono::milliseconds interval,
                                                  std::function<void()> onTimer) override;

private:
    std::unique_ptr<QObject> FContext;
};
