#pragma once

#include "core/event_loop.h"
#include "transport/stun_servers.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::test {

// A controller for the host's integration tests and benchmarks. It talks to tavoro-rendezvous as an
// installation does, places calls, exchanges candidates over a real peer transport, receives frames
// over UDP and through the server, decodes them with the FFmpeg decoder and keeps what it saw.
// Every method may be called from the test thread; what arrives is collected on the client's and the
// transport's threads.
class ScriptedController {
public:
    struct Options {
        std::uint16_t serverPort = 0;
        std::string deviceId;
        std::vector<transport::StunServer> stun; // none: loopback candidates only
        std::string serverAddress = "127.0.0.1"; // IPv4
    };

    // One decoded picture and how its frame came.
    struct Picture {
        int width = 0;
        int height = 0;
        std::uint32_t colour = 0; // 0xRRGGBB at a quarter of the width and height (clear of a centred pointer)
        bool overUdp = false;
        bool keyframe = false;    // its access unit began with parameter sets
        std::chrono::steady_clock::time_point at;
    };

    static std::unique_ptr<ScriptedController> connect(core::EventLoopThread& loop, Options options);
    ~ScriptedController();

    // Sends "call" and waits for the answer: "accepted", the refusal reason, or nothing without answer.
    std::optional<std::string> call(const std::string& target, const std::string& password,
        const std::string& mode = "control", std::chrono::milliseconds limit = std::chrono::seconds(10));
    void signal(const std::string& kind, const nlohmann::json& payload = nullptr);
    void input(const nlohmann::json& message);
    void bye(const std::string& reason = "user_close");

    std::optional<Picture> nextPicture(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The oldest "signal" of this kind from the host not taken yet (its payload).
    std::optional<nlohmann::json> nextSignal(const std::string& kind,
        std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::optional<nlohmann::json> nextOfType(const std::string& type,
        std::chrono::milliseconds limit = std::chrono::seconds(10));
    int framesOverUdp() const;
    int framesRelayed() const;
    // Bytes of the video frame bodies received so far over both paths (header and access unit).
    std::uint64_t bytesReceived() const;
    // Off: frames are still counted but no longer decoded, for benchmarks that leave the controller's
    // own CPU use out of what they measure. Turned on again mid-stream, pictures are whole from the
    // next keyframe on.
    void setDecoding(bool on);
    bool udpConnected() const;

    struct State;

private:
    explicit ScriptedController(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

} // namespace tavoro::test
