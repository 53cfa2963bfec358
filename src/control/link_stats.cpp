#include "control/link_stats.h"

namespace tavoro::control {

const char* linkLabel(LinkKind kind)
{
    switch (kind) {
    case LinkKind::relay: return "UDP中继";
    case LinkKind::direct: return "P2P直连";
    case LinkKind::ws: break;
    }
    return "WS中转";
}

LinkStats statsFor(std::int64_t frames, std::int64_t bytes, const transport::PeerLink::LinkState& link)
{
    LinkStats stats;
    stats.fps = static_cast<int>(frames);
    stats.kbps = static_cast<int>(bytes / 1024);
    if (link.connected) {
        stats.kind = link.relayed() ? LinkKind::relay : LinkKind::direct;
        stats.rttMs = link.rttMs;
    }
    return stats;
}

std::string statusLine(const LinkStats& stats, int width, int height)
{
    std::string line = std::string(linkLabel(stats.kind)) + " · " + std::to_string(width) + "×" +
        std::to_string(height) + " · " + std::to_string(stats.fps) + " FPS · " + std::to_string(stats.kbps) +
        " KB/s";
    if (stats.rttMs >= 0) {
        line += " · " + std::to_string(stats.rttMs) + "ms";
    }
    return line;
}

} // namespace tavoro::control
