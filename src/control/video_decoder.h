#pragma once

#include "core/serial_queue.h"
#include "platform/display_sink.h"
#include "platform/h264_decoder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace tavoro::control {

// Decodes the H.264 access units of one session, learns the parameter sets from the stream and opens a
// new platform decoder whenever they change (another monitor or size), so the host switches without
// any signalling. Every picture goes at once to the attached display sink; the latest one is kept for
// screenshots and for a sink that attaches later.
//
// Threads: decode, snapshot, attach, release and decodedPictures may be called from any thread. Parsing,
// decoding, the attached sink and every call into it live on `queue` ("tavoro.h264.dec"), so attach and
// release take effect in order with the units queued before them. A mutex guards only the latest
// picture (and the note that a release is on its way, which keeps pictures still being decoded from
// reappearing after release() returned). More than kMaxBacklog units waiting on the queue skip the
// stream to the next keyframe (one log line each time). Tasks hold the decoder weakly: units still
// queued when it is destroyed are dropped.
class VideoDecoder : public std::enable_shared_from_this<VideoDecoder> {
public:
    static constexpr int kMaxBacklog = 30;

    // `factory` must outlive the decoder; `queue` is the decoder's own serial queue.
    static std::shared_ptr<VideoDecoder> create(platform::H264DecoderFactory& factory,
        std::shared_ptr<core::SerialQueue> queue);
    ~VideoDecoder();

    // Queues one Annex-B access unit (copied). Ignored when width or height is not positive or the unit
    // is empty; the stream's own parameter sets decide the real size.
    void decode(std::span<const std::uint8_t> accessUnit, int width, int height);
    // The latest decoded picture; nothing before the first or after release().
    std::optional<platform::DecodedPicture> snapshot() const;
    // Shows the pictures on `sink` from now on (nullptr detaches); it gets the latest picture at once.
    void attach(std::shared_ptr<platform::DisplaySink> sink);
    // Ends decoding: the sink is cleared, the platform decoder and the parameter sets are dropped.
    // A later unit carrying parameter sets starts decoding again.
    void release();
    // Pictures decoded since creation.
    std::uint64_t decodedPictures() const;

private:
    struct State;
    VideoDecoder(platform::H264DecoderFactory& factory, std::shared_ptr<core::SerialQueue> queue);
    std::unique_ptr<State> state_;
};

} // namespace tavoro::control
