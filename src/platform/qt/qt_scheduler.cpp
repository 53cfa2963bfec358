#include "platform/qt/qt_scheduler.h"

#include "platform/qt/gui_gate.h"

#include <QObject>
#include <QTimerEvent>

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace tavoro::platform::qt {

class QtTimer;

// Owns the pending timers as Qt timer ids of one QObject. GUI thread only.
class TimerHost final : public QObject {
public:
    ~TimerHost() override;
    void arm(const std::shared_ptr<QtTimer>& timer, std::chrono::milliseconds delay);
    void disarm(QtTimer& timer);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::unordered_map<int, std::shared_ptr<QtTimer>> pending_;
};

// One pending task. mutex_ guards task_ (empty once fired or cancelled); id is the GUI thread's only.
class QtTimer final : public core::TimerHandle, public std::enable_shared_from_this<QtTimer> {
public:
    QtTimer(std::shared_ptr<GuiGate> gate, std::function<void()> task) : gate_(std::move(gate)), task_(std::move(task))
    {
    }

    void cancel() override
    {
        auto task = takeTask();
        if (!task) {
            return;
        }
        // The host is alive whenever a task queued on it runs: queued events die with their receiver.
        gate_->post([self = shared_from_this(), task = std::move(task), this]() mutable {
            task = nullptr;
            if (host) {
                host->disarm(*this);
            }
        });
    }

    std::function<void()> takeTask()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(task_, nullptr);
    }

    TimerHost* host = nullptr;
    int id = 0;

private:
    std::shared_ptr<GuiGate> gate_;
    std::mutex mutex_;
    std::function<void()> task_;
};

TimerHost::~TimerHost()
{
    for (auto& [id, timer] : pending_) {
        timer->host = nullptr;
    }
}

void TimerHost::arm(const std::shared_ptr<QtTimer>& timer, std::chrono::milliseconds delay)
{
    const int id = startTimer(std::max(delay, std::chrono::milliseconds(0)), Qt::PreciseTimer);
    if (id == 0) {
        return;
    }
    timer->host = this;
    timer->id = id;
    pending_.emplace(id, timer);
}

void TimerHost::disarm(QtTimer& timer)
{
    if (pending_.erase(timer.id) > 0) {
        killTimer(timer.id);
    }
    timer.host = nullptr;
}

void TimerHost::timerEvent(QTimerEvent* event)
{
    const auto found = pending_.find(event->timerId());
    if (found == pending_.end()) {
        return;
    }
    const auto timer = std::move(found->second);
    pending_.erase(found);
    killTimer(timer->id);
    timer->host = nullptr;
    if (auto task = timer->takeTask()) {
        task();
    }
}

QtScheduler::QtScheduler() : host_(std::make_unique<TimerHost>()), gate_(std::make_shared<GuiGate>(*host_)) {}

QtScheduler::~QtScheduler() { gate_->close(); }

std::shared_ptr<core::TimerHandle> QtScheduler::after(std::chrono::milliseconds delay, std::function<void()> task)
{
    auto timer = std::make_shared<QtTimer>(gate_, std::move(task));
    if (gate_->onGuiThread()) {
        host_->arm(timer, delay);
    } else {
        gate_->post([host = host_.get(), timer, delay] { host->arm(timer, delay); });
    }
    return timer;
}

} // namespace tavoro::platform::qt
