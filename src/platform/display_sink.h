#pragma once

#include "platform/h264_decoder.h"

namespace tavoro::platform {

// Where a session's decoded pictures are shown: the remote-screen view of the desktop application, or a
// counter in the headless controller. The decoder calls it from its own queue, one call at a time; an
// implementation that paints on another thread copies the picture handle and posts there.
class DisplaySink {
public:
    virtual ~DisplaySink() = default;
    // Shows this picture at once; it is the latest one (no timing, no reordering).
    virtual void present(const DecodedPicture& picture) = 0;
    // Discards what the display holds before the next picture: a new stream (another size or
    // monitor) begins.
    virtual void flush() = 0;
    // The session's pictures are over: remove the picture.
    virtual void clear() = 0;
};

} // namespace tavoro::platform
