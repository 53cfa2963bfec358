#pragma once

#include "controller_fixture.h"

#include "platform/fake/fake_control_media.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/fake/manual_serial_queue.h"
#include "platform/null_audio_sink.h"

#include <thread>

namespace tavoro::app::test {

// A controller that places calls: control sessions on manual queues and a real transport. The test
// calls kHost and answers for it.
class ControllingTest : public ControllerTest {
protected:
    static inline const std::string kHost = "222222222";

    ControllingTest()
    {
        controlMedia = &media;
        settings.set("device_id", "123456789");
    }
    ~ControllingTest() override
    {
        if (controller) {
            controller->endControl();
        }
    }

    // Runs the session queues and the main queue until all are idle.
    void run()
    {
        while (frames->drain() + decodes->drain() + mainQueue.drain() > 0) {
        }
    }
    // Calls kHost and returns the call ID sent.
    std::string call(const std::string& mode = "control")
    {
        controller->connectToPeer(kHost, "pw12", mode);
        mainQueue.drain();
        return sentOfType("call").back()["call_id"];
    }
    nlohmann::json answer(const std::string& callId, nlohmann::json extra = nlohmann::json::object())
    {
        nlohmann::json message{{"type", "call_response"}, {"from", kHost}, {"call_id", callId}, {"accepted", true},
            {"from_name", "Studio"}};
        message.update(extra);
        return message;
    }
    // Calls kHost, which accepts: the session that runs now.
    std::shared_ptr<control::ControlSession> acceptedSession()
    {
        deliver(answer(call()));
        run();
        return controller->controlSession();
    }
    // kHost relays a video frame of this size (its picture does not decode).
    void receiveVideoOfSize(std::uint32_t width, std::uint32_t height)
    {
        std::vector<std::uint8_t> relayed(1 + kHost.size() + 10, 0xFE);
        std::copy(kHost.begin(), kHost.end(), relayed.begin() + 1);
        std::uint8_t* frame = relayed.data() + 1 + kHost.size();
        frame[0] = 0x02;
        for (int i = 0; i < 4; ++i) {
            frame[1 + i] = static_cast<std::uint8_t>(width >> (8 * i));
            frame[5 + i] = static_cast<std::uint8_t>(height >> (8 * i));
        }
        frame[9] = 0x65;
        std::thread([&] { connector->last()->fireBinary(relayed); }).join();
        run();
    }

    platform::fake::NoH264Decoders decoders;
    platform::fake::TinyImageCodec images;
    platform::NullAudioSinkFactory audio;
    platform::fake::FixedUserFolders folders;
    std::shared_ptr<platform::fake::ManualSerialQueue> frames = std::make_shared<platform::fake::ManualSerialQueue>();
    std::shared_ptr<platform::fake::ManualSerialQueue> decodes = std::make_shared<platform::fake::ManualSerialQueue>();
    control::ControlMedia media{decoders, images, audio, folders, frames, decodes};
};

} // namespace tavoro::app::test
