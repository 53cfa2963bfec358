#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <string>

namespace tavoro::server {

// Answers STUN Binding requests with the address each one came from (XOR-MAPPED-ADDRESS, same
// transaction id); every other datagram is ignored. open() and close() run on the thread that runs
// `context`, which also does all the receiving; port() may be read from any thread.
class StunService {
public:
    explicit StunService(boost::asio::io_context& context) : socket_(context) {}

    bool open(const boost::asio::ip::udp::endpoint& at, std::string& error);
    void close();
    std::uint16_t port() const { return port_; }

private:
    void receive();
    void answer(std::size_t length);

    boost::asio::ip::udp::socket socket_;
    std::array<std::uint8_t, 2048> buffer_{};
    boost::asio::ip::udp::endpoint sender_;
    std::atomic<std::uint16_t> port_{0};
};

} // namespace tavoro::server
