#include "transport/name_resolver.h"

#include "transport/udp_socket.h"

#include <system_error>
#include <thread>

namespace tavoro::transport {

NameResolver::NameResolver() : table_(std::make_shared<Table>()) {}

std::optional<Endpoint> NameResolver::resolve(const std::string& host, std::uint16_t port,
    std::chrono::steady_clock::time_point until)
{
    if (const auto literal = parseDottedQuad(host)) {
        return Endpoint{*literal, port};
    }
    std::unique_lock guard(table_->mutex);
    if (!table_->found.contains(host) && !table_->running.contains(host)) {
        table_->running.insert(host);
        try {
            std::thread([table = table_, host, port] {
                const auto address = net::resolveIPv4(host, port);
                std::lock_guard done(table->mutex);
                table->running.erase(host);
                if (address) {
                    table->found[host] = *address;
                }
                table->changed.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            table_->running.erase(host); // no thread now: tried again next time
        }
    }
    table_->changed.wait_until(guard, until, [&] { return !table_->running.contains(host); });
    const auto found = table_->found.find(host);
    if (found == table_->found.end()) {
        return std::nullopt;
    }
    return Endpoint{found->second.address, port};
}

} // namespace tavoro::transport
