#include "chat/incoming_chat_lines.h"

#include "chat/chat_text.h"

namespace tavoro::chat {

std::vector<std::string> IncomingChatLines::take(const Conversations& conversations)
{
    std::vector<std::string> lines;
    for (const auto& [peer, messages] : conversations) {
        auto& seen = seen_[peer];
        for (; seen < messages.size(); ++seen) {
            if (!messages[seen].mine) {
                lines.push_back(printableText(peer) + ": " + printableText(messages[seen].text));
            }
        }
    }
    return lines;
}

} // namespace tavoro::chat
