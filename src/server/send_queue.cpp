#include "server/send_queue.h"

namespace tavoro::server {

std::size_t SendQueue::costOf(const Item& item)
{
    if (const auto* text = std::get_if<std::string>(&item)) {
        return costOf(*text);
    }
    const auto& bytes = std::get<SharedBytes>(item);
    return bytes ? costOf(bytes->size()) : 0;
}

SendQueue::Push SendQueue::pushText(std::string text)
{
    const std::size_t cost = costOf(text);
    if (textBytes_ + cost > limits_.maxTextBytes) {
        return Push::overflow;
    }
    textBytes_ += cost;
    text_.push_back(std::move(text));
    return Push::queued;
}

SendQueue::Push SendQueue::pushBinary(SharedBytes bytes)
{
    if (!bytes) {
        return Push::dropped;
    }
    const std::size_t cost = costOf(bytes->size());
    if (!binary_.empty() && binaryBytes_ + cost > limits_.maxBinaryBytes) {
        ++droppedBinary_;
        return Push::dropped;
    }
    binaryBytes_ += cost;
    binary_.push_back(std::move(bytes));
    return Push::queued;
}

std::optional<SendQueue::Item> SendQueue::pop()
{
    if (!text_.empty()) {
        std::string text = std::move(text_.front());
        text_.pop_front();
        textBytes_ -= costOf(text);
        return Item(std::move(text));
    }
    if (!binary_.empty()) {
        SharedBytes bytes = std::move(binary_.front());
        binary_.pop_front();
        binaryBytes_ -= costOf(bytes->size());
        return Item(std::move(bytes));
    }
    return std::nullopt;
}

void SendQueue::clear()
{
    // Swapped out rather than cleared: a deque keeps its blocks after clear().
    std::deque<std::string>().swap(text_);
    std::deque<SharedBytes>().swap(binary_);
    textBytes_ = 0;
    binaryBytes_ = 0;
}

} // namespace tavoro::server
