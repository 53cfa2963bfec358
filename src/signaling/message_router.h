#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace tavoro::signaling {

// The handlers of incoming text messages, one per row of the routing table. A handler that is not
// set drops its messages. Each handler gets the fields its row reads, already read leniently.
struct MessageRoutes {
    using Json = nlohmann::json;

    std::function<void(const std::string& type, const Json& message)> callResponse; // "call_response", "call_ack"
    std::function<void(const Json& message)> registerReply;                          // "register"
    std::function<void(const Json& message)> smsCodeResp;                            // "sms_code_resp"
    std::function<void(const Json& message)> call;                                   // "call"
    std::function<void(const Json& message, const std::string& from)> input;         // "input"
    // "signal": kind, the "payload" object (nullptr when absent or not an object), "from".
    std::function<void(const std::string& kind, const Json* payload, const std::string& from)> signal;
    std::function<void(const std::string& text, const std::string& from)> clipboardText; // non-empty text only
    std::function<void(const std::string& from, const std::string& text)> pushMsg;
    std::function<void(const std::string& type, const Json& message)> fileTransfer;  // "file_xfer_*"
    // "fs_list_resp": "path", "entries" (the objects of the list, in order), "from".
    std::function<void(const std::string& path, const Json::array_t& entries, const std::string& from)> fsListResp;
    std::function<void(const std::string& type, const Json& message)> fsRequest;     // "fs_list" … "fs_copy"
    std::function<void(const std::string& from, const std::string& reason)> bye;
    std::function<void(const std::string& text)> error;                               // "error", "err"
};

// Dispatches a text message by its type, testing the rows in their fixed order with exact,
// case-sensitive comparison; unknown types, "" included, are ignored. Runs on the caller's thread.
void routeText(const MessageRoutes& routes, const std::string& type, const nlohmann::json& message);

// The text of a server error: "message" inside the object "err", else "message", else "msg";
// the first that is a non-empty string.
std::string serverErrorText(const nlohmann::json& message);

} // namespace tavoro::signaling
