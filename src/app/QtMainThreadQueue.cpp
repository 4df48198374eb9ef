#include "app/QtMainThreadQueue.h"

#include <QObject>
#include <QTimer>

namespace {

class TQtMainThreadTimer final : public IMainThreadTimer {
public:
    TQtMainThreadTimer(std::chrono::milliseconds interval, std::function<void()> onTimer)
        : FTimer(std::make_unique<QTimer>()), FOnTimer(std::move(onTimer)), FAlive(std::make_shared<bool>(true)) {
        FTimer->setInterval(int(std::max<std::chrono::milliseconds::rep>(interval.count(), 1)));
        QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Fire(); });
        FTimer->start();
    }
    ~TQtMainThreadTimer() override {
        *FAlive = false;
        FTimer->stop();
        FTimer->disconnect();
        // Destroyed from inside its own timeout: the QTimer is still delivering that
        // event, so it goes once the event is done.
        if (FFiring) FTimer.release()->deleteLater();
    }

    void SetEnabled(bool enabled) override {
        if (enabled && !FTimer->isActive()) FTimer->start();
        if (!enabled) FTimer->stop();
    }
    bool Enabled() const override { return FTimer->isActive(); }

private:
    void Fire() {
        // Held while it runs: the callback may destroy this timer, and with it FOnTimer.
        std::shared_ptr<bool> alive = FAlive;
        std::function<void()> fn = FOnTimer;
        FFiring = true;
        if (fn) fn();
        if (*alive) FFiring = false;
    }

    std::unique_ptr<QTimer> FTimer;
    std::function<void()> FOnTimer;
    std::shared_ptr<bool> FAlive;
    bool FFiring = false;
};

}  // namespace

TQtMainThreadQueue::TQtMainThreadQueue() : FContext(std::make_unique<QObject>()) {}

TQtMainThreadQueue::~TQtMainThreadQueue() = default;

void TQtMainThreadQueue::Post(std::function<void()> fn) {
    // Queued to an object of the GUI thread: runs there in posting order; dropped by Qt
    // when the object is gone first.
    QMetaObject::invokeMethod(FContext.get(), std::move(fn), Qt::QueuedConnection);
}

std::unique_ptr<IMainThreadTimer> TQtMainThreadQueue::CreateTimer(std::chrono::milliseconds interval,
                                                                  std::function<void()> onTimer) {
    return std::make_unique<TQtMainThreadTimer>(interval, std::move(onTimer));
}
