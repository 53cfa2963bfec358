#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tavoro::core {

// A published field of an application model. Writes and change announcements happen on the main
// thread only (the owner makes sure of that); get() may be called from any thread and returns a copy.
template <typename T>
class Observable {
public:
    using Listener = std::function<void(const T&)>;

    // Keeps a listener subscribed while it lives.
    class Subscription {
    public:
        Subscription() = default;
        explicit Subscription(std::function<void()> unsubscribe) : unsubscribe_(std::move(unsubscribe)) {}
        Subscription(Subscription&& other) noexcept : unsubscribe_(std::exchange(other.unsubscribe_, {})) {}
        Subscription& operator=(Subscription&& other) noexcept
        {
            reset();
            unsubscribe_ = std::exchange(other.unsubscribe_, {});
            return *this;
        }
        ~Subscription() { reset(); }
        void reset()
        {
            if (unsubscribe_) {
                std::exchange(unsubscribe_, {})();
            }
        }

    private:
        std::function<void()> unsubscribe_;
    };

    explicit Observable(T initial = T{}) : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    T get() const
    {
        std::lock_guard lock(valueMutex_);
        return value_;
    }

    // Main thread only. Listeners are told about every assignment, equal values included.
    void set(T value)
    {
        {
            std::lock_guard lock(valueMutex_);
            value_ = std::move(value);
        }
        T announced = get();
        for (const auto& entry : std::vector<std::pair<int, std::shared_ptr<Listener>>>(listeners_)) {
            (*entry.second)(announced);
        }
    }

    // Main thread only.
    [[nodiscard]] Subscription subscribe(Listener listener)
    {
        int id = nextId_++;
        listeners_.emplace_back(id, std::make_shared<Listener>(std::move(listener)));
        return Subscription([this, id] { std::erase_if(listeners_, [id](const auto& e) { return e.first == id; }); });
    }

private:
    mutable std::mutex valueMutex_; // guards value_ against readers on other threads
    T value_;
    std::vector<std::pair<int, std::shared_ptr<Listener>>> listeners_; // main thread only
    int nextId_ = 0;
};

} // namespace tavoro::core
