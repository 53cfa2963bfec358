#pragma once

#include <mutex>
#include <string>

namespace tavoro::platform {

// The general pasteboard (clipboard). Safe from any thread.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Clears the pasteboard and puts text on it as plain text.
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
};

// A pasteboard that lives in this process only: for headless programs and tests.
class MemoryPasteboard final : public Pasteboard {
public:
    void setText(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        text_ = text;
    }
    std::string text() const override
    {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_; // guards text_
    std::string text_;
};

} // namespace tavoro::platform
