// Drives the hub's "hello" with arbitrary texts and with hellos whose "device_key" is arbitrary,
// against one device ID that its owner claimed with a key and then left. Whatever it is fed, no
// connection that never presented the owner's key may ever receive a message sent to that ID, and
// the stored digest never changes.
#include "platform/fake/manual_clock.h"
#include "platform/fake/sequence_random.h"
#include "server/device_key_digest.h"
#include "server/hub.h"

#include <cstdlib>
#include <set>

namespace {

using namespace tavoro;
using nlohmann::json;

const std::string kOwnedId = "100000001";
const std::string kOwnerKey = "Tavoro-fuzz-owner-key-0123456789abcdefghijk";
constexpr server::ConnectionId kOwner = 0;
constexpr server::ConnectionId kProber = 9;

struct ProbeSink final : server::ConnectionSink {
    void sendText(server::ConnectionId id, std::string text) override
    {
        const json msg = json::parse(text, nullptr, false);
        if (!msg.is_object()) {
            std::abort();
        }
        if (msg.value("type", "") == "probe" && !keyHolders.contains(id)) {
            std::abort(); // a message for the owned ID reached a connection without its key
        }
    }
    void sendBinary(server::ConnectionId, server::SharedBytes) override {}
    void close(server::ConnectionId) override {}

    std::set<server::ConnectionId> keyHolders; // connections that sent the owner's key since they opened
};

struct NoRelay final : server::RelayAllocator {
    bool allocate(const std::string&, const std::string&, const std::string&) override { return false; }
    std::uint16_t port() const override { return 3479; }
};

struct NoSms final : server::SmsGateway {
    void sendCode(const std::string&, const std::string&) override {}
};

// Parsed the way the hub parses it, so that escapes in the text do not hide the key.
bool carriesOwnerKey(std::string_view text)
{
    const json msg = json::parse(text, nullptr, false);
    return msg.is_object() && msg.value("device_key", json()) == kOwnerKey;
}

void hello(server::Hub& hub, server::ConnectionId id, const std::string& deviceId, const std::string& key)
{
    const json msg{{"type", "hello"}, {"device_id", deviceId}, {"token", "qxm"}, {"device_key", key}};
    hub.text(id, msg.dump(-1, ' ', false, json::error_handler_t::replace));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::fake::ManualClock clock;
    platform::fake::SequenceRandom random({0x31, 0x07, 0xC4});
    ProbeSink sink;
    NoRelay relays;
    NoSms sms;
    server::MemoryDeviceKeyStore deviceKeys;
    server::Hub hub(sink, relays, sms, deviceKeys, random, clock, server::HubConfig{});
    const server::ConnectionInfo info{"192.0.2.1:4000", "192.0.2.2", "192.0.2.1"};

    hub.opened(kOwner, info);
    hello(hub, kOwner, kOwnedId, kOwnerKey);
    hub.closed(kOwner);
    hub.opened(kProber, info);
    hub.text(kProber, R"({"type":"hello","device_id":"100000009","token":"qxm"})");
    for (server::ConnectionId id = 1; id <= 3; ++id) {
        hub.opened(id, info);
    }
    const std::string ownerDigest = server::deviceKeyDigest(kOwnerKey);

    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t op = data[at];
        const server::ConnectionId id = data[at + 1] % 3 + 1;
        at += 2;
        const std::size_t length = at < size ? std::min<std::size_t>(data[at] + 1u, size - at) : 0;
        const std::string chunk(reinterpret_cast<const char*>(data + at), length);
        switch (op % 4) {
        case 0:
            if (carriesOwnerKey(chunk)) {
                sink.keyHolders.insert(id);
            }
            hub.text(id, chunk);
            at += length;
            break;
        case 1:
            hello(hub, id, op & 0x80 ? kOwnedId : "100000002", chunk);
            if (chunk == kOwnerKey) {
                sink.keyHolders.insert(id);
            }
            at += length;
            break;
        case 2:
            hub.closed(id);
            sink.keyHolders.erase(id);
            hub.opened(id, info);
            break;
        default:
            hub.text(kProber, json{{"type", "probe"}, {"to", kOwnedId}}.dump());
            break;
        }
        if (deviceKeys.find(kOwnedId) != ownerDigest) {
            std::abort();
        }
    }
    return 0;
}
