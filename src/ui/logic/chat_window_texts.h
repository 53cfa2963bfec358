#pragma once

#include <string>

// The chat window's texts that follow its state.
namespace tavoro::ui::text {

inline const std::string kChatTitle = "消息";
inline const std::string kChatClose = "关闭";
inline const std::string kChatPlaceholder = "输入消息，回车发送";
inline const std::string kChatSend = "发送";
inline const std::string kChatNoRecipient = "没有可发送的对象：请先建立会话，或在左侧选择一位联系人";

// A row of the peers list; the peer of the running session is marked.
inline std::string chatPeerLabel(const std::string& peer, bool isSessionPeer)
{
    return isSessionPeer ? peer + "（当前会话）" : peer;
}

// The line above the composer naming where a message goes.
inline std::string chatRecipientText(const std::string& peer) { return "发给 " + peer; }

} // namespace tavoro::ui::text
