#pragma once

#include <string>
#include <string_view>

// Pure text rules of chat messages. Any thread.
namespace tavoro::chat {

// The composer's text as it is sent: white space and line breaks (Unicode White_Space, U+3000
// included) removed at both ends. Bytes that are not valid UTF-8 count as text.
std::string trimDraft(std::string_view draft);

// The text with control characters (C0, DEL, C1) removed, for printing a message on one line of a
// terminal, where they could move the cursor or change colours.
std::string printableText(std::string_view text);

} // namespace tavoro::chat
