#include "platform/fake/manual_clock.h"

#include <atomic>

namespace tavoro::platform::fake {

struct ManualScheduler::Entry {
    std::function<void()> task;
    std::atomic<bool> cancelled{false};
};

class ManualScheduler::Handle final : public core::TimerHandle {
public:
    explicit Handle(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    void cancel() override { entry_->cancelled = true; }

private:
    std::shared_ptr<Entry> entry_;
};

std::shared_ptr<core::TimerHandle> ManualScheduler::after(std::chrono::milliseconds delay, std::function<void()> task)
{
    auto entry = std::make_shared<Entry>();
    entry->task = std::move(task);
    std::lock_guard lock(mutex_);
    requested_.push_back(delay);
    entries_.emplace(std::make_pair(clock_.now() + delay, nextOrder_++), entry);
    return std::make_shared<Handle>(entry);
}

void ManualScheduler::runDue()
{
    for (;;) {
        std::shared_ptr<Entry> entry;
        {
            std::lock_guard lock(mutex_);
            auto first = entries_.begin();
            if (first == entries_.end() || first->first.first > clock_.now()) {
                return;
            }
            entry = first->second;
            entries_.erase(first);
        }
        if (!entry->cancelled) {
            entry->task();
        }
    }
}

void ManualScheduler::advance(std::chrono::milliseconds by)
{
    const auto target = clock_.now() + by;
    for (;;) {
        runDue();
        core::SteadyTime next;
        {
            std::lock_guard lock(mutex_);
            auto first = entries_.begin();
            if (first == entries_.end() || first->first.first > target) {
                break;
            }
            next = first->first.first;
        }
        clock_.advance(std::chrono::duration_cast<std::chrono::milliseconds>(next - clock_.now()));
    }
    clock_.advance(std::chrono::duration_cast<std::chrono::milliseconds>(target - clock_.now()));
    runDue();
}

std::size_t ManualScheduler::pendingCount() const
{
    std::lock_guard lock(mutex_);
    std::size_t live = 0;
    for (const auto& [key, entry] : entries_) {
        live += entry->cancelled ? 0 : 1;
    }
    return live;
}

std::vector<std::chrono::milliseconds> ManualScheduler::requestedDelays() const
{
    std::lock_guard lock(mutex_);
    return requested_;
}

} // namespace tavoro::platform::fake
