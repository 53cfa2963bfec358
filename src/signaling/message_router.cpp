#include "signaling/message_router.h"

#include "core/json_fields.h"

#include <array>
#include <string_view>

namespace tavoro::signaling {
namespace {

using json::stringField;

template <std::size_t N>
bool isOneOf(const std::string& type, const std::array<std::string_view, N>& names)
{
    for (auto name : names) {
        if (type == name) {
            return true;
        }
    }
    return false;
}

template <typename Handler, typename... Args>
void callIfSet(const Handler& handler, Args&&... args)
{
    if (handler) {
        handler(std::forward<Args>(args)...);
    }
}

nlohmann::json::array_t objectsOf(const nlohmann::json::array_t& list)
{
    nlohmann::json::array_t objects;
    for (const auto& item : list) {
        if (item.is_object()) {
            objects.push_back(item);
        }
    }
    return objects;
}

constexpr std::array<std::string_view, 4> kFileTransferTypes{"file_xfer_start", "file_xfer_chunk", "file_xfer_done",
    "file_xfer_ack"};
constexpr std::array<std::string_view, 6> kFsRequestTypes{"fs_list", "fs_get", "fs_mkdir", "fs_delete", "fs_rename", "fs_copy"};

} // namespace

std::string serverErrorText(const nlohmann::json& message)
{
    if (const auto* err = json::objectField(message, "err")) {
        if (auto text = stringField(*err, "message"); !text.empty()) {
            return text;
        }
    }
    if (auto text = stringField(message, "message"); !text.empty()) {
        return text;
    }
    return stringField(message, "msg");
}

void routeText(const MessageRoutes& routes, const std::string& type, const nlohmann::json& message)
{
    if (type == "call_response" || type == "call_ack") {
        callIfSet(routes.callResponse, type, message);
    } else if (type == "register") {
        callIfSet(routes.registerReply, message);
    } else if (type == "sms_code_resp") {
        callIfSet(routes.smsCodeResp, message);
    } else if (type == "call") {
        callIfSet(routes.call, message);
    } else if (type == "input") {
        callIfSet(routes.input, message, stringField(message, "from"));
    } else if (type == "signal") {
        callIfSet(routes.signal, stringField(message, "kind"), json::objectField(message, "payload"),
            stringField(message, "from"));
    } else if (type == "clipboard_text") {
        if (auto text = stringField(message, "text"); !text.empty()) {
            callIfSet(routes.clipboardText, text, stringField(message, "from"));
        }
    } else if (type == "push_msg") {
        callIfSet(routes.pushMsg, stringField(message, "from"), stringField(message, "text"));
    } else if (isOneOf(type, kFileTransferTypes)) {
        callIfSet(routes.fileTransfer, type, message);
    } else if (type == "fs_list_resp") {
        callIfSet(routes.fsListResp, stringField(message, "path"), objectsOf(json::arrayField(message, "entries")),
            stringField(message, "from"));
    } else if (isOneOf(type, kFsRequestTypes)) {
        callIfSet(routes.fsRequest, type, message);
    } else if (type == "bye") {
        callIfSet(routes.bye, stringField(message, "from"), stringField(message, "reason"));
    } else if (type == "error" || type == "err") {
        callIfSet(routes.error, serverErrorText(message));
    }
}

} // namespace tavoro::signaling
