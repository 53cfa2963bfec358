// Drives the rendezvous hub with arbitrary connection events: text and binary messages (three of the
// four connections are bound devices, one with a phone alias in SMS mode), closings, re-openings and
// the passing of time. Whatever it is fed, every message the hub sends must be a JSON object, every
// forwarded one must carry "from", and nothing may reach a connection that never spoke.
#include "platform/fake/manual_clock.h"
#include "platform/fake/sequence_random.h"
#include "protocol/media_frame.h"
#include "server/hub.h"

#include <cstdlib>
#include <map>

namespace {

using namespace tavoro;
using nlohmann::json;

struct CheckingSink final : server::ConnectionSink {
    void sendText(server::ConnectionId id, std::string text) override
    {
        const json msg = json::parse(text, nullptr, false);
        if (!msg.is_object()) {
            std::abort();
        }
        if (!bound.contains(id)) {
            std::abort();
        }
        const std::string type = msg.value("type", "");
        const bool serverReply = type == "error" || type == "register" || type == "sms_code_resp";
        if (!serverReply && !(msg.contains("from") && msg["from"].is_string())) {
            std::abort();
        }
    }
    void sendBinary(server::ConnectionId id, server::SharedBytes bytes) override
    {
        if (!bound.contains(id) || !bytes || !protocol::parseRelayMessage(*bytes)) {
            std::abort();
        }
    }
    void close(server::ConnectionId) override {}

    std::map<server::ConnectionId, std::string> bound; // connections that said hello, as far as the fuzzer knows
};

struct AnyRelay final : server::RelayAllocator {
    bool allocate(const std::string&, const std::string&, const std::string&) override { return ++count % 3 != 0; }
    std::uint16_t port() const override { return 3479; }
    int count = 0;
};

struct NoSms final : server::SmsGateway {
    void sendCode(const std::string&, const std::string&) override {}
};

const char* const kIds[] = {"100000001", "100000002", "100000003"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::fake::ManualClock clock;
    platform::fake::SequenceRandom random({0x31, 0x07, 0xC4, 0x9A, 0x55});
    CheckingSink sink;
    AnyRelay relays;
    NoSms sms;
    server::MemoryDeviceKeyStore deviceKeys;
    server::Hub hub(sink, relays, sms, deviceKeys, random, clock, server::HubConfig{});

    for (server::ConnectionId id = 0; id < 3; ++id) {
        hub.opened(id, {"192.0.2.1:4000", "192.0.2.2", "192.0.2.1"});
        hub.text(id, json{{"type", "hello"}, {"device_id", kIds[id]}, {"token", "qxm"}}.dump());
        sink.bound[id] = kIds[id];
    }
    hub.opened(3, {"192.0.2.1:4001", "192.0.2.2", "192.0.2.1"});
    hub.text(0, R"({"type":"register","phone":"13800000000:1","sms_auth":true})");

    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t op = data[at];
        const server::ConnectionId id = data[at + 1] % 4;
        at += 2;
        const std::size_t length = at < size ? std::min<std::size_t>(data[at] * 8u + 1, size - at) : 0;
        const std::string_view chunk(reinterpret_cast<const char*>(data + at), length);
        switch (op % 6) {
        case 0:
        case 1:
            hub.text(id, chunk);
            sink.bound.emplace(id, "?"); // it may have said hello, with whatever ID it wrote
            at += length;
            break;
        case 2:
            hub.binary(id, std::make_shared<const std::vector<std::uint8_t>>(chunk.begin(), chunk.end()));
            at += length;
            break;
        case 3:
            hub.closed(id);
            sink.bound.erase(id);
            hub.opened(id, {"192.0.2.1:4002", "192.0.2.2", "192.0.2.1"});
            break;
        case 4:
            clock.advance(std::chrono::seconds(op));
            hub.tick();
            break;
        default:
            hub.text(id, R"({"type":"sms_code_req","to":"13800000000:1"})");
            break;
        }
    }
    return 0;
}
