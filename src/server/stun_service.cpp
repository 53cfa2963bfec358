#include "server/stun_service.h"

#include "transport/stun.h"

#include <boost/asio/buffer.hpp>

namespace tavoro::server {

using boost::asio::ip::udp;

Result<> StunService::open(const udp::endpoint& at)
{
    boost::system::error_code ec;
    socket_.open(at.protocol(), ec);
    if (!ec) {
        socket_.bind(at, ec);
    }
    if (ec) {
        Failure failure{"stun port " + std::to_string(at.port()) + ": " + ec.message()};
        socket_.close(ec);
        return failure;
    }
    socket_.non_blocking(true, ec);
    port_ = socket_.local_endpoint(ec).port();
    receive();
    return {};
}

void StunService::close()
{
    boost::system::error_code ec;
    socket_.close(ec);
}

void StunService::receive()
{
    socket_.async_receive_from(boost::asio::buffer(buffer_), sender_,
        [this](const boost::system::error_code& ec, std::size_t length) {
            if (ec == boost::asio::error::operation_aborted || !socket_.is_open()) {
                return;
            }
            if (!ec) {
                answer(length);
            }
            receive();
        });
}

void StunService::answer(std::size_t length)
{
    auto txn = transport::stun::parseBindingRequest(std::span<const std::uint8_t>(buffer_.data(), length));
    if (!txn || !sender_.address().is_v4()) {
        return;
    }
    const std::uint32_t address = sender_.address().to_v4().to_uint();
    if (!repliesByAddress_.allow(address, clock_.now())) {
        return;
    }
    const auto response = transport::stun::makeBindingSuccess(*txn, transport::stun::MappedAddress{address, sender_.port()});
    boost::system::error_code ec;
    socket_.send_to(boost::asio::buffer(response), sender_, 0, ec);
}

} // namespace tavoro::server
