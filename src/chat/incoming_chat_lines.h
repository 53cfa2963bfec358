#pragma once

#include "chat/chat_store.h"

#include <map>
#include <string>
#include <vector>

namespace tavoro::chat {

// Turns the growing conversations of a ChatStore into one printable line "ID: text" per newly
// received message (control characters removed), for programs that print chat on a terminal.
// Not thread-safe: one caller, normally the main thread's conversations listener.
class IncomingChatLines {
public:
    // The lines of the peers' messages stored since the last call, per peer in storing order.
    std::vector<std::string> take(const Conversations& conversations);

private:
    std::map<std::string, std::size_t> seen_; // messages already looked at, per peer
};

} // namespace tavoro::chat
