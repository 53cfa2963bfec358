#pragma once

#include "platform/h264_encoder.h"

#include <deque>
#include <memory>
#include <vector>

namespace tavoro::platform::fake {

// What a ScriptedH264Encoder was asked to do; shared with the test, outliving the encoder.
struct ScriptedEncoderLog {
    std::vector<bool> forcedKeyframes; // one entry per encoded picture
    std::vector<int> bitrates;         // every setBitrate
    int flushes = 0;
    bool destroyed = false;
};

// One scripted output of the encoder: bytes as the encoder would write them and the keyframe flag.
struct ScriptedPacket {
    std::vector<std::uint8_t> bytes;
    bool keyframe = false;
};

// An H.264 encoder that answers each picture with the next scripted packet (none when the script is
// used up) and records what it was asked.
class ScriptedH264Encoder final : public H264Encoder {
public:
    ScriptedH264Encoder(std::deque<ScriptedPacket> script, std::shared_ptr<ScriptedEncoderLog> log)
        : script_(std::move(script)), log_(std::move(log))
    {
    }
    ~ScriptedH264Encoder() override { log_->destroyed = true; }

    void encode(const PixelBuffer&, bool forceKeyframe, const EncodedOutput& output) override
    {
        log_->forcedKeyframes.push_back(forceKeyframe);
        if (script_.empty()) {
            return;
        }
        const auto packet = std::move(script_.front());
        script_.pop_front();
        output(packet.bytes, packet.keyframe);
    }
    void setBitrate(int kbps) override { log_->bitrates.push_back(kbps); }
    void flush(const EncodedOutput&) override { ++log_->flushes; }
    EncodeTimings lastTimings() const override { return {}; }

private:
    std::deque<ScriptedPacket> script_;
    std::shared_ptr<ScriptedEncoderLog> log_;
};

// Hands out ScriptedH264Encoders with the given script, or nothing when told to fail.
class ScriptedH264EncoderFactory final : public H264EncoderFactory {
public:
    bool fail = false;
    std::deque<ScriptedPacket> script;
    std::shared_ptr<ScriptedEncoderLog> log = std::make_shared<ScriptedEncoderLog>();
    std::vector<H264EncoderSettings> requested;

    std::unique_ptr<H264Encoder> create(const H264EncoderSettings& settings) override
    {
        requested.push_back(settings);
        if (fail) {
            return nullptr;
        }
        return std::make_unique<ScriptedH264Encoder>(script, log);
    }
};

} // namespace tavoro::platform::fake
