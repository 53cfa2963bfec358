#include "server/send_queue.h"

namespace tavoro::server {

SendQueue::Push SendQueue::pushText(std::string text)
{
    if (textBytes_ + text.size() > limits_.maxTextBytes) {
        return Push::overflow;
    }
    textBytes_ += text.size();
    text_.push_back(std::move(text));
    return Push::queued;
}

SendQueue::Push SendQueue::pushBinary(SharedBytes bytes)
{
    if (!bytes) {
        return Push::dropped;
    }
    if (!binary_.empty() && binaryBytes_ + bytes->size() > limits_.maxBinaryBytes) {
        ++droppedBinary_;
        return Push::dropped;
    }
    binaryBytes_ += bytes->size();
    binary_.push_back(std::move(bytes));
    return Push::queued;
}

std::optional<SendQueue::Item> SendQueue::pop()
{
    if (!text_.empty()) {
        std::string text = std::move(text_.front());
        text_.pop_front();
        textBytes_ -= text.size();
        return Item(std::move(text));
    }
    if (!binary_.empty()) {
        SharedBytes bytes = std::move(binary_.front());
        binary_.pop_front();
        binaryBytes_ -= bytes->size();
        return Item(std::move(bytes));
    }
    return std::nullopt;
}

} // namespace tavoro::server
