#pragma once

#include "core/clock.h"
#include "core/result.h"
#include "server/rate_limiter.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <string>

namespace tavoro::server {

// Answers STUN Binding requests with the address each one came from (XOR-MAPPED-ADDRESS, same
// transaction id); every other datagram is ignored. The answer is larger than the request and the
// source of a datagram can be forged, so each IPv4 address gets only `kReplyRate` answers (beyond
// it requests go unanswered) and the port cannot serve as an amplifier at volume. open() and
// close() run on the thread that runs `context`, which also does all the receiving; port() may be
// read from any thread.
class StunService {
public:
    static constexpr RateLimit kReplyRate{20, 10};
    static constexpr std::size_t kMaxTrackedAddresses = 16'384;

    StunService(boost::asio::io_context& context, const core::Clock& clock)
        : socket_(context), clock_(clock), repliesByAddress_(kReplyRate, kMaxTrackedAddresses)
    {
    }

    Result<> open(const boost::asio::ip::udp::endpoint& at);
    void close();
    std::uint16_t port() const { return port_; }

private:
    void receive();
    void answer(std::size_t length);

    boost::asio::ip::udp::socket socket_;
    const core::Clock& clock_;
    RateLimiter<std::uint32_t> repliesByAddress_; // by IPv4 address
    std::array<std::uint8_t, 2048> buffer_{};
    boost::asio::ip::udp::endpoint sender_;
    std::atomic<std::uint16_t> port_{0};
};

} // namespace tavoro::server
