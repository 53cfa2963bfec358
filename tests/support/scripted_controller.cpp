#include "support/scripted_controller.h"

#include "core/json_fields.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/picture_to_bgrx.h"
#include "platform/posix/system_random.h"
#include "protocol/media_frame.h"
#include "support/wss_test_client.h"
#include "transport/p2p_transport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace tavoro::test {

using namespace std::chrono_literals;

struct ScriptedController::State {
    std::unique_ptr<WssTestClient> client;
    platform::SystemRandom random;
    std::unique_ptr<transport::P2PTransport> transport;
    std::atomic<bool> stopping{false};
    std::atomic<bool> decodeFrames{true};
    std::thread textReader;
    std::thread binaryReader;

    std::mutex decodeMutex; // serialises the decoder, which frames from both paths reach
    std::unique_ptr<platform::H264Decoder> decoder;

    mutable std::mutex mutex; // guards the fields below
    std::condition_variable changed;
    std::string target;
    std::string callId;
    std::deque<nlohmann::json> texts;
    std::deque<Picture> pictures;
    int udpFrames = 0;
    int relayedFrames = 0;
    std::uint64_t receivedBytes = 0;

    void readTexts()
    {
        while (!stopping) {
            auto message = client->nextJson(50ms);
            if (!message || !message->is_object()) {
                continue;
            }
            if (json::stringField(*message, "type") == "signal" && json::stringField(*message, "kind") == "ice") {
                const auto* payload = json::objectField(*message, "payload");
                transport->ingestSignal("ice", payload ? *payload : nlohmann::json());
            }
            std::lock_guard lock(mutex);
            texts.push_back(std::move(*message));
            changed.notify_all();
        }
    }

    void readBinaries()
    {
        while (!stopping) {
            auto bytes = client->nextBinary(50ms);
            if (!bytes) {
                continue;
            }
            if (auto relayed = protocol::parseRelayMessage(*bytes)) {
                handleBody(relayed->body, false);
            }
        }
    }

    void handleBody(std::span<const std::uint8_t> bytes, bool overUdp)
    {
        const auto body = protocol::parseFrameBody(bytes);
        if (!body || body->type != static_cast<std::uint8_t>(protocol::FrameType::h264)) {
            return;
        }
        {
            std::lock_guard lock(mutex);
            ++(overUdp ? udpFrames : relayedFrames);
            receivedBytes += bytes.size();
        }
        if (!decodeFrames) {
            return;
        }
        const bool keyframe = body->payload.size() > 4 && (body->payload[4] & 0x1F) == 7;
        std::lock_guard decoding(decodeMutex);
        decoder->decode(body->payload, [&](const platform::DecodedPicture& decoded) {
            Picture picture{decoded.width, decoded.height, colourOf(decoded), overUdp, keyframe,
                std::chrono::steady_clock::now()};
            std::lock_guard lock(mutex);
            pictures.push_back(picture);
            changed.notify_all();
        });
    }

    static std::uint32_t colourOf(const platform::DecodedPicture& decoded)
    {
        platform::PixelBuffer bgrx(decoded.width, decoded.height);
        if (!platform::convertToBgrx(decoded, bgrx)) {
            return 0;
        }
        const auto* pixel = bgrx.row(decoded.height / 4) + (decoded.width / 4) * 4;
        return static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[0];
    }

    void sendToHost(const std::string& type, nlohmann::json fields)
    {
        {
            std::lock_guard lock(mutex);
            fields["to"] = target;
            fields["call_id"] = callId;
        }
        fields["type"] = type;
        client->sendJson(fields);
    }

    // Removes and returns the first entry that is wanted, waiting for one up to the limit; the others
    // stay for later calls.
    template <typename T>
    std::optional<T> take(std::deque<T>& from, std::chrono::milliseconds limit, const std::function<bool(const T&)>& wanted)
    {
        std::unique_lock lock(mutex);
        std::optional<T> found;
        changed.wait_for(lock, limit, [&] {
            const auto match = std::find_if(from.begin(), from.end(), wanted);
            if (match == from.end()) {
                return false;
            }
            found = std::move(*match);
            from.erase(match);
            return true;
        });
        return found;
    }
};

std::unique_ptr<ScriptedController> ScriptedController::connect(core::EventLoopThread& loop, Options options)
{
    auto state = std::make_shared<State>();
    WssTestClient::Options server;
    server.address = options.serverAddress;
    server.port = options.serverPort;
    state->client = WssTestClient::connect(loop, std::move(server)).client;
    if (!state->client || !state->client->hello(options.deviceId)) {
        return nullptr;
    }
    platform::FfmpegH264DecoderFactory decoders;
    state->decoder = decoders.create();
    state->transport = std::make_unique<transport::P2PTransport>(
        transport::P2PTransport::Settings{std::move(options.stun)}, std::make_shared<core::SteadyClock>(),
        state->random);
    State* raw = state.get(); // the transport and the readers are stopped before the state goes
    state->transport->onSignal = [raw](const std::string& kind, const nlohmann::json& payload) {
        raw->sendToHost("signal", {{"kind", kind}, {"payload", payload}});
    };
    state->transport->onFrame = [raw](std::vector<std::uint8_t> frame) { raw->handleBody(frame, true); };
    state->textReader = std::thread([raw] { raw->readTexts(); });
    state->binaryReader = std::thread([raw] { raw->readBinaries(); });
    return std::unique_ptr<ScriptedController>(new ScriptedController(std::move(state)));
}

ScriptedController::~ScriptedController()
{
    state_->stopping = true;
    state_->textReader.join();
    state_->binaryReader.join();
    state_->transport.reset();
}

std::optional<std::string> ScriptedController::call(const std::string& target, const std::string& password,
    const std::string& mode, std::chrono::milliseconds limit)
{
    const std::string callId = std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    {
        std::lock_guard lock(state_->mutex);
        state_->target = target;
        state_->callId = callId;
    }
    state_->client->sendJson({{"type", "call"}, {"to", target}, {"call_id", callId}, {"password", password},
        {"mode", mode}, {"from_name", "Linux"}});
    auto answer = nextOfType("call_response", limit);
    if (!answer) {
        return std::nullopt;
    }
    if (!json::boolField(*answer, "accepted")) {
        return json::stringField(*answer, "reason");
    }
    if (const auto* relay = json::objectField(*answer, "relay")) {
        state_->transport->setRelay(json::stringField(*relay, "host"), json::intField(*relay, "port", 0),
            json::stringField(*relay, "token"));
    }
    state_->transport->start();
    return "accepted";
}

void ScriptedController::signal(const std::string& kind, const nlohmann::json& payload)
{
    nlohmann::json fields{{"kind", kind}};
    if (!payload.is_null()) {
        fields["payload"] = payload;
    }
    state_->sendToHost("signal", std::move(fields));
}

void ScriptedController::input(const nlohmann::json& message)
{
    auto fields = message;
    state_->sendToHost("input", std::move(fields));
}

void ScriptedController::bye(const std::string& reason) { state_->sendToHost("bye", {{"reason", reason}}); }

std::optional<ScriptedController::Picture> ScriptedController::nextPicture(std::chrono::milliseconds limit)
{
    return state_->take<Picture>(state_->pictures, limit, [](const Picture&) { return true; });
}

std::optional<nlohmann::json> ScriptedController::nextSignal(const std::string& kind, std::chrono::milliseconds limit)
{
    auto message = state_->take<nlohmann::json>(state_->texts, limit, [&](const nlohmann::json& m) {
        return json::stringField(m, "type") == "signal" && json::stringField(m, "kind") == kind;
    });
    if (!message) {
        return std::nullopt;
    }
    const auto* payload = json::objectField(*message, "payload");
    return payload ? *payload : nlohmann::json::object();
}

std::optional<nlohmann::json> ScriptedController::nextOfType(const std::string& type, std::chrono::milliseconds limit)
{
    return state_->take<nlohmann::json>(
        state_->texts, limit, [&](const nlohmann::json& m) { return json::stringField(m, "type") == type; });
}

int ScriptedController::framesOverUdp() const
{
    std::lock_guard lock(state_->mutex);
    return state_->udpFrames;
}

int ScriptedController::framesRelayed() const
{
    std::lock_guard lock(state_->mutex);
    return state_->relayedFrames;
}

std::uint64_t ScriptedController::bytesReceived() const
{
    std::lock_guard lock(state_->mutex);
    return state_->receivedBytes;
}

void ScriptedController::setDecoding(bool on) { state_->decodeFrames = on; }

bool ScriptedController::udpConnected() const { return state_->transport->linkState().connected; }

} // namespace tavoro::test
