#pragma once

// Stopwatches around the controller's frame path, from outside the product code: the frame queue and
// the decode queue are wrapped to note when a task was posted and when it ran, and the platform decoder
// to note how long each decode took. A picture reaching the display sink carries, in CurrentStamp::decode
// (the decode thread's own), the times of the access unit that made it:
//   reassembled - the frame body was complete (UDP reassembly or relay message) and posted to the frame queue
//   parsed      - the frame queue ran its task and handed the unit to the decoder (posted to the decode queue)
//   decodeStart - the decode queue ran the unit's task and called the platform decoder
//   decodeEnd   - the platform decoder delivered the picture
//
// The stamps travel in thread-local variables because a queue task cannot say which frame it carries;
// each is set only while a wrapped task runs on that queue's own thread.
#include "control/parameter_sets.h"
#include "core/serial_queue.h"
#include "platform/h264_decoder.h"

#include <chrono>
#include <memory>
#include <optional>

namespace tavoro::bench {

using TimePoint = std::chrono::steady_clock::time_point;

struct FrameStamp {
    TimePoint posted;
    TimePoint ran;
};

struct DecodeStamp {
    std::optional<FrameStamp> frame; // absent for units not posted from a frame-queue task
    TimePoint posted;
    TimePoint decodeStart;
    TimePoint decodeEnd;
    bool keyframe = false; // the unit holds an IDR slice
};

// The stamps of the task running on this thread.
struct CurrentStamp {
    static inline thread_local std::optional<FrameStamp> frame;   // on the frame queue's thread
    static inline thread_local std::optional<DecodeStamp> decode; // on the decode queue's thread
};

// The session's frame queue ("tavoro.ctrl.frames"), noting post and run times.
class TimedFrameQueue final : public core::SerialQueue {
public:
    explicit TimedFrameQueue(std::shared_ptr<core::SerialQueue> inner) : inner_(std::move(inner)) {}
    void post(std::function<void()> task) override
    {
        inner_->post([task = std::move(task), posted = std::chrono::steady_clock::now()] {
            CurrentStamp::frame = FrameStamp{posted, std::chrono::steady_clock::now()};
            task();
            CurrentStamp::frame.reset();
        });
    }
    bool isCurrent() const override { return inner_->isCurrent(); }

private:
    std::shared_ptr<core::SerialQueue> inner_;
};

// The decoder's queue ("tavoro.h264.dec"): carries the frame stamp of the posting task along.
class TimedDecodeQueue final : public core::SerialQueue {
public:
    explicit TimedDecodeQueue(std::shared_ptr<core::SerialQueue> inner) : inner_(std::move(inner)) {}
    void post(std::function<void()> task) override
    {
        DecodeStamp stamp{CurrentStamp::frame, std::chrono::steady_clock::now(), {}, {}};
        inner_->post([task = std::move(task), stamp] {
            CurrentStamp::decode = stamp;
            task();
            CurrentStamp::decode.reset();
        });
    }
    bool isCurrent() const override { return inner_->isCurrent(); }

private:
    std::shared_ptr<core::SerialQueue> inner_;
};

// Platform decoders whose pictures arrive with decodeStart and decodeEnd set.
class TimedDecoderFactory final : public platform::H264DecoderFactory {
public:
    explicit TimedDecoderFactory(platform::H264DecoderFactory& inner) : inner_(inner) {}
    std::unique_ptr<platform::H264Decoder> create() override
    {
        auto decoder = inner_.create();
        return decoder ? std::make_unique<TimedDecoder>(std::move(decoder)) : nullptr;
    }

private:
    class TimedDecoder final : public platform::H264Decoder {
    public:
        explicit TimedDecoder(std::unique_ptr<platform::H264Decoder> inner) : inner_(std::move(inner)) {}
        bool decode(std::span<const std::uint8_t> accessUnit, const platform::DecodedOutput& output) override
        {
            const auto start = std::chrono::steady_clock::now();
            const bool keyframe = control::containsIdrSlice(protocol::splitAnnexB(accessUnit));
            return inner_->decode(accessUnit, [&](const platform::DecodedPicture& picture) {
                if (CurrentStamp::decode) {
                    CurrentStamp::decode->keyframe = keyframe;
                    CurrentStamp::decode->decodeStart = start;
                    CurrentStamp::decode->decodeEnd = std::chrono::steady_clock::now();
                }
                output(picture);
            });
        }
        void flush(const platform::DecodedOutput& output) override { inner_->flush(output); }

    private:
        std::unique_ptr<platform::H264Decoder> inner_;
    };

    platform::H264DecoderFactory& inner_;
};

} // namespace tavoro::bench
