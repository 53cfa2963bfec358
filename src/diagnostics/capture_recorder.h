#pragma once

#include "core/result.h"
#include "diagnostics/stage_timings.h"
#include "host/encoding_stream.h"
#include "platform/h264_encoder.h"
#include "platform/pixel_buffer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace tavoro::diagnostics {

// What a recording produced.
struct RecordingSummary {
    int frames = 0;
    int keyframes = 0;
    std::uint64_t bytes = 0;
    int width = 0;
    int height = 0;
    StageTimings grab;
    StageTimings scaleAndConvert;
    StageTimings encode;
};

// Encodes the capturer's frames through the host's own capture-to-encoder stream and writes the access units to a stream, until it has the frames it wants.
// Threads: onFrame runs on the capture thread; accept, waitUntilDone and summary on any other;
// mutex_ guards accepting_, summary_, failure_ and the condition.
class CaptureRecorder {
public:
    CaptureRecorder(platform::H264EncoderFactory& factory, int fps, int bitrateKbps, std::ostream& sink,
        int wantedFrames);

    void onFrame(const platform::PixelBufferRef& picture, int width, int height);
    // Frames before this call are dropped (those of a display captured before the one asked for).
    void accept();
    void fail(const std::string& error);
    // True once the wanted frames are written; false at the deadline or after a failure.
    bool waitUntilDone(std::chrono::steady_clock::time_point deadline);
    // What was recorded, or the failure that ended the recording.
    Result<RecordingSummary> summary() const;

private:
    void write(const std::vector<std::uint8_t>& accessUnit, bool isKey);

    host::EncodingStream encoding_; // capture thread only
    int bitrateKbps_;
    std::ostream& sink_;
    int wantedFrames_;

    mutable std::mutex mutex_; // guards accepting_, summary_, failure_
    std::condition_variable changed_;
    bool accepting_ = false;
    RecordingSummary summary_;
    std::optional<Failure> failure_;
};

} // namespace tavoro::diagnostics
