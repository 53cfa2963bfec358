#pragma once

#include "platform/h264_decoder.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace tavoro::platform::qt {

// The latest decoded picture, handed from the decoder's thread to the GUI thread. Each picture put in
// gets a new generation number, so the reader can tell a new picture from one it has already drawn.
// Any thread; mutex_ guards both fields.
class PictureSlot {
public:
    struct Held {
        std::optional<DecodedPicture> picture;
        std::uint64_t generation = 0;
    };

    void put(const DecodedPicture& picture);
    void drop();
    Held latest() const;

private:
    mutable std::mutex mutex_;
    std::optional<DecodedPicture> picture_;
    std::uint64_t generation_ = 0;
};

} // namespace tavoro::platform::qt
