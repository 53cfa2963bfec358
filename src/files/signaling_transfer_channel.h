#pragma once

#include "files/transfer_channel.h"
#include "signaling/signaling.h"

namespace tavoro::files {

// Transfers over the installation's signaling connection (the user links tavoro_signaling). Any
// thread; the connection outlives it.
class SignalingTransferChannel final : public TransferChannel {
public:
    explicit SignalingTransferChannel(signaling::Signaling& sig) : sig_(sig) {}

    bool send(const std::string& type, nlohmann::json payload) override { return sig_.trySend(type, std::move(payload)); }
    std::uint64_t unsentBytes() const override { return sig_.unsentBytes(); }
    std::uint64_t writtenBytes() const override { return sig_.writtenBytes(); }
    std::uint64_t connectionNumber() const override { return sig_.connectionNumber(); }

private:
    signaling::Signaling& sig_;
};

} // namespace tavoro::files
