#pragma once

#include "controller_fixture.h"

#include "platform/fake/fake_capture_source.h"
#include "platform/fake/fake_permissions.h"
#include "platform/fake/recording_input_sink.h"
#include "platform/fake/scripted_h264_encoder.h"

#include <string>
#include <vector>

namespace tavoro::app::test {

inline const std::string kCaller = "222222222";

// A controller that can host: fake capture, encoder and input under a real session and transport.
class HostingTest : public ControllerTest {
protected:
    HostingTest()
    {
        source.displayList = platform::fake::sideBySide(1, 640, 360);
        hostMedia = &media;
        settings.set("device_id", "123456789");
        settings.set("temp_pw", "ab12");
    }
    ~HostingTest() override
    {
        if (controller) {
            controller->endHost();
        }
    }

    nlohmann::json call(const std::string& from, nlohmann::json extra = nlohmann::json::object())
    {
        nlohmann::json message{{"type", "call"}, {"from", from}, {"call_id", "c-" + from}, {"password", "ab12"},
            {"mode", "control"}, {"from_name", "name-" + from}};
        message.update(extra);
        return message;
    }
    // The answers to `from` so far: the refusal reason, or "accepted".
    std::vector<std::string> answersTo(const std::string& from) const
    {
        std::vector<std::string> answers;
        for (const auto& answer : sentOfType("call_response")) {
            if (answer["to"] == from) {
                answers.push_back(answer["accepted"] == true ? "accepted" : answer["reason"].get<std::string>());
            }
        }
        return answers;
    }

    platform::fake::FakeCaptureSource source;
    platform::fake::ScriptedH264EncoderFactory encoders;
    platform::fake::RecordingInputSink input;
    platform::fake::FakePermissions permissions;
    host::HostMedia media{source, encoders, input, permissions, "lab-host"};
};

} // namespace tavoro::app::test
