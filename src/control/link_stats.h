#pragma once

#include "transport/peer_link.h"

#include <cstdint>
#include <string>

namespace tavoro::control {

// The path the session's media take.
enum class LinkKind { ws, relay, direct };

// "WS中转", "UDP中继", "P2P直连".
const char* linkLabel(LinkKind kind);

// One second of reception as the session window shows it.
struct LinkStats {
    int fps = 0;
    int kbps = 0; // KB/s: bytes / 1024
    LinkKind kind = LinkKind::ws;
    int rttMs = -1;
};

// The statistics of one second: `frames` video frames and `bytes` media bytes received, and the
// UDP path as it stands now.
LinkStats statsFor(std::int64_t frames, std::int64_t bytes, const transport::PeerLink::LinkState& link);

// "P2P直连 · 1920×1080 · 30 FPS · 300 KB/s · 12ms" (the round trip only when known).
std::string statusLine(const LinkStats& stats, int width, int height);

} // namespace tavoro::control
