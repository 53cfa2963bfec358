#include "server/relay_service.h"

#include "core/log.h"

#include <boost/asio/buffer.hpp>

#include <algorithm>

#include <netinet/in.h>
#include <sys/socket.h>

namespace tavoro::server {
namespace {

using boost::asio::ip::udp;

// Batches read in a row, without waiting, after each wake-up.
constexpr int kDrainBatch = 8;
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

} // namespace

struct RelayService::Batch {
    static constexpr std::size_t kSize = 32;
    static constexpr std::size_t kSlot = 2048;

    Batch()
    {
        for (std::size_t i = 0; i < kSize; ++i) {
            in[i].msg_hdr.msg_iov = &inVectors[i];
            in[i].msg_hdr.msg_iovlen = 1;
            in[i].msg_hdr.msg_name = &from[i];
            inVectors[i] = iovec{slots[i].data(), kSlot};
        }
    }

    // Before each read: the kernel overwrites the lengths.
    void rearm()
    {
        for (std::size_t i = 0; i < kSize; ++i) {
            in[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            in[i].msg_hdr.msg_flags = 0;
        }
    }

    std::array<std::array<std::uint8_t, kSlot>, kSize> slots{};
    std::array<mmsghdr, kSize> in{};
    std::array<iovec, kSize> inVectors{};
    std::array<sockaddr_in, kSize> from{};
    std::array<mmsghdr, kSize> out{};
    std::array<iovec, kSize> outVectors{};
    std::array<sockaddr_in, kSize> to{};
};

RelayService::RelayService(boost::asio::io_context& context, const core::Clock& clock, platform::SecureRandom& random,
    RelayTable::Limits limits)
    : context_(context), socket_(context), batch_(std::make_unique<Batch>()), table_(clock, random, limits),
      scheduler_(context.get_executor())
{
}

RelayService::~RelayService() = default;

Result<> RelayService::open(const udp::endpoint& at)
{
    boost::system::error_code ec;
    socket_.open(at.protocol(), ec);
    if (!ec) {
        socket_.bind(at, ec);
    }
    if (ec) {
        Failure failure{"relay port " + std::to_string(at.port()) + ": " + ec.message()};
        socket_.close(ec);
        return failure;
    }
    socket_.set_option(udp::socket::receive_buffer_size(kSocketBufferBytes), ec);
    socket_.set_option(udp::socket::send_buffer_size(kSocketBufferBytes), ec);
    socket_.non_blocking(true, ec);
    port_ = socket_.local_endpoint(ec).port();
    expiry_ = std::make_unique<core::RepeatingTimer>(scheduler_, std::chrono::seconds(1), [this] {
        std::lock_guard lock(mutex_);
        table_.expire();
    });
    waitReadable();
    return {};
}

void RelayService::close()
{
    expiry_.reset();
    boost::system::error_code ec;
    socket_.close(ec);
}

bool RelayService::allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress)
{
    std::lock_guard lock(mutex_);
    return table_.allocate(token, owner, ownerAddress);
}

bool RelayService::allocateStanding(const std::string& token)
{
    std::lock_guard lock(mutex_);
    return table_.allocateStanding(token);
}

void RelayService::waitReadable()
{
    socket_.async_wait(udp::socket::wait_read, [this](const boost::system::error_code& ec) {
        if (ec == boost::asio::error::operation_aborted || !socket_.is_open()) {
            return;
        }
        // A bounded number of batches per wake-up keeps the timers and the STUN socket served.
        for (int round = 0; round < kDrainBatch && relayBatch(); ++round) {
        }
        waitReadable();
    });
}

bool RelayService::relayBatch()
{
    Batch& batch = *batch_;
    batch.rearm();
    const int received = ::recvmmsg(socket_.native_handle(), batch.in.data(), Batch::kSize, MSG_DONTWAIT, nullptr);
    if (received <= 0) {
        return false;
    }
    unsigned forwarded = 0; // datagrams to send: forwards and challenges
    {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < received; ++i) {
            const auto& header = batch.in[static_cast<std::size_t>(i)];
            const auto& source = batch.from[static_cast<std::size_t>(i)];
            if ((header.msg_hdr.msg_flags & MSG_TRUNC) || source.sin_family != AF_INET) {
                continue;
            }
            const Ipv4Endpoint from{ntohl(source.sin_addr.s_addr), ntohs(source.sin_port)};
            auto& slot = batch.slots[static_cast<std::size_t>(i)];
            auto to = table_.route(from, std::span<const std::uint8_t>(slot.data(), header.msg_len));
            if (!to) {
                continue;
            }
            std::size_t length = header.msg_len;
            if (!to->reply.empty()) {
                length = std::min(to->reply.size(), slot.size());
                std::copy_n(to->reply.begin(), length, slot.begin());
            }
            auto& destination = batch.to[forwarded];
            destination = sockaddr_in{};
            destination.sin_family = AF_INET;
            destination.sin_addr.s_addr = htonl(to->to.address);
            destination.sin_port = htons(to->to.port);
            batch.outVectors[forwarded] = iovec{slot.data(), length};
            auto& out = batch.out[forwarded].msg_hdr;
            out = msghdr{};
            out.msg_name = &destination;
            out.msg_namelen = sizeof destination;
            out.msg_iov = &batch.outVectors[forwarded];
            out.msg_iovlen = 1;
            ++forwarded;
        }
    }
    if (forwarded > 0) {
        // What the socket buffer cannot take is dropped, as UDP would.
        ::sendmmsg(socket_.native_handle(), batch.out.data(), forwarded, MSG_DONTWAIT);
    }
    return static_cast<std::size_t>(received) == Batch::kSize;
}

} // namespace tavoro::server
