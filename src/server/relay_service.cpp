#include "server/relay_service.h"

#include "core/log.h"

#include <boost/asio/buffer.hpp>

namespace tavoro::server {
namespace {

using boost::asio::ip::udp;

// Datagrams read in a row, without waiting, after each wake-up.
constexpr int kDrainBatch = 64;
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

} // namespace

RelayService::RelayService(boost::asio::io_context& context, const core::Clock& clock, RelayTable::Limits limits)
    : context_(context), socket_(context), table_(clock, limits), scheduler_(context.get_executor())
{
}

RelayService::~RelayService() = default;

bool RelayService::open(const udp::endpoint& at, std::string& error)
{
    boost::system::error_code ec;
    socket_.open(at.protocol(), ec);
    if (!ec) {
        socket_.bind(at, ec);
    }
    if (ec) {
        error = "relay port " + std::to_string(at.port()) + ": " + ec.message();
        socket_.close(ec);
        return false;
    }
    socket_.set_option(udp::socket::receive_buffer_size(kSocketBufferBytes), ec);
    socket_.set_option(udp::socket::send_buffer_size(kSocketBufferBytes), ec);
    socket_.non_blocking(true, ec);
    port_ = socket_.local_endpoint(ec).port();
    expiry_ = std::make_unique<core::RepeatingTimer>(scheduler_, std::chrono::seconds(1), [this] {
        std::lock_guard lock(mutex_);
        table_.expire();
    });
    receive();
    return true;
}

void RelayService::close()
{
    expiry_.reset();
    boost::system::error_code ec;
    socket_.close(ec);
}

bool RelayService::allocate(const std::string& token, const std::string& owner)
{
    std::lock_guard lock(mutex_);
    return table_.allocate(token, owner);
}

bool RelayService::allocateStanding(const std::string& token)
{
    std::lock_guard lock(mutex_);
    return table_.allocateStanding(token);
}

void RelayService::receive()
{
    socket_.async_receive_from(boost::asio::buffer(buffer_), sender_,
        [this](const boost::system::error_code& ec, std::size_t length) {
            if (ec == boost::asio::error::operation_aborted || !socket_.is_open()) {
                return;
            }
            if (!ec) {
                handle(length);
                drain();
            }
            receive();
        });
}

// Reads what is already waiting before going back to the event loop: one wake-up per batch.
void RelayService::drain()
{
    for (int i = 0; i < kDrainBatch; ++i) {
        boost::system::error_code ec;
        const std::size_t length = socket_.receive_from(boost::asio::buffer(buffer_), sender_, 0, ec);
        if (ec) {
            return;
        }
        handle(length);
    }
}

void RelayService::handle(std::size_t length)
{
    if (!sender_.address().is_v4()) {
        return;
    }
    const Ipv4Endpoint from{sender_.address().to_v4().to_uint(), sender_.port()};
    std::optional<Ipv4Endpoint> to;
    {
        std::lock_guard lock(mutex_);
        to = table_.route(from, std::span<const std::uint8_t>(buffer_.data(), length));
    }
    if (!to) {
        return;
    }
    boost::system::error_code ec; // a full socket buffer drops the datagram, as UDP would
    socket_.send_to(boost::asio::buffer(buffer_.data(), length),
        udp::endpoint(boost::asio::ip::address_v4(to->address), to->port), 0, ec);
}

} // namespace tavoro::server
