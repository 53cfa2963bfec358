#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The STUN endpoints a transport asks for its reflexive address: a deployment setting. The programs
// take them from the repeatable option `--stun HOST:PORT`, else from TAVORO_STUN (comma-separated
// HOST:PORT entries), else the default table.
namespace tavoro::transport {

struct StunServer {
    std::string host; // a name or dotted-quad text
    std::uint16_t port = 0;
    friend bool operator==(const StunServer&, const StunServer&) = default;
};

inline constexpr std::string_view kStunEnvironmentVariable = "TAVORO_STUN";
inline constexpr std::uint16_t kRendezvousStunPort = 3478;

// The rendezvous server's own STUN responder (on rendezvousHost, port 3478) first, then four public
// STUN servers: three on port 3478 and one on 19302.
std::vector<StunServer> defaultStunServers(std::string_view rendezvousHost = "127.0.0.1");

// "HOST:PORT" with a non-empty host and a decimal port from 1 to 65535, else nothing.
std::optional<StunServer> parseStunServer(std::string_view text);

// Comma-separated "HOST:PORT" entries (spaces around entries allowed); nothing when any entry is
// malformed or there is none.
std::optional<std::vector<StunServer>> parseStunServerList(std::string_view text);

// The table in force: the --stun options when there are any, else the environment value when it is set
// and not empty, else the default table. On a malformed entry `servers` is empty and `invalidEntry`
// names the offending text, for the program to report.
struct StunTable {
    std::vector<StunServer> servers;
    std::string invalidEntry;
};
StunTable chooseStunServers(const std::vector<std::string>& options, const char* environmentValue,
    std::string_view rendezvousHost = "127.0.0.1");

} // namespace tavoro::transport
