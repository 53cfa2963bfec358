#include "signaling/message_router.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavoro::signaling {
namespace {

using nlohmann::json;

// Records which row took each message, with the fields it was handed.
struct Recorder {
    std::vector<std::string> calls;
    MessageRoutes routes;

    Recorder()
    {
        const auto note = [this](std::string call) { calls.push_back(std::move(call)); };
        routes.callResponse = [note](const std::string& type, const json&) { note("callResponse:" + type); };
        routes.registerReply = [note](const json&) { note("register"); };
        routes.smsCodeResp = [note](const json&) { note("smsCodeResp"); };
        routes.call = [note](const json&) { note("call"); };
        routes.input = [note](const json&, const std::string& from) { note("input:" + from); };
        routes.signal = [note](const std::string& kind, const json* payload, const std::string& from) {
            note("signal:" + kind + "|" + (payload ? payload->dump() : "none") + "|" + from);
        };
        routes.clipboardText = [note](const std::string& text, const std::string& from) { note("clip:" + text + "|" + from); };
        routes.pushMsg = [note](const std::string& from, const std::string& text) { note("push:" + from + "|" + text); };
        routes.fileTransfer = [note](const std::string& type, const json&) { note("file:" + type); };
        routes.fsListResp = [note](const std::string& path, const json::array_t& entries, const std::string& from) {
            note("fsListResp:" + path + "|" + std::to_string(entries.size()) + "|" + from);
        };
        routes.fsRequest = [note](const std::string& type, const json&) { note("fs:" + type); };
        routes.bye = [note](const std::string& from, const std::string& reason) { note("bye:" + from + "|" + reason); };
        routes.error = [note](const std::string& text) { note("error:" + text); };
    }

    void route(const json& message) { routeText(routes, message.value("type", std::string()), message); }
};

TEST(MessageRouter, EveryKnownTypeReachesItsRowAndOthersAreIgnored)
{
    Recorder r;
    for (const auto* type : {"call_response", "call_ack", "register", "sms_code_resp", "call", "file_xfer_start",
             "file_xfer_chunk", "file_xfer_done", "fs_list", "fs_get", "fs_mkdir", "fs_delete", "fs_rename", "fs_copy",
             "Call", "CALL_ACK", "", "hello", "fs_list_resp2", "unknown"}) {
        r.route({{"type", type}});
    }
    EXPECT_EQ(r.calls, (std::vector<std::string>{"callResponse:call_response", "callResponse:call_ack", "register",
                           "smsCodeResp", "call", "file:file_xfer_start", "file:file_xfer_chunk", "file:file_xfer_done",
                           "fs:fs_list", "fs:fs_get", "fs:fs_mkdir", "fs:fs_delete", "fs:fs_rename", "fs:fs_copy"}));
}

TEST(MessageRouter, HandlersGetTheirFieldsReadLeniently)
{
    Recorder r;
    r.route({{"type", "input"}, {"from", "123456789"}, {"kind", "mouse_move"}});
    r.route({{"type", "input"}, {"from", 5}});
    r.route({{"type", "signal"}, {"kind", "ice"}, {"payload", {{"candidates", json::array()}}}, {"from", "1"}});
    r.route({{"type", "signal"}, {"kind", 3}, {"payload", "text"}});
    r.route({{"type", "clipboard_text"}, {"text", "hello"}, {"from", "2"}});
    r.route({{"type", "clipboard_text"}, {"text", ""}, {"from", "2"}});
    r.route({{"type", "push_msg"}, {"from", "3"}, {"text", "hi"}});
    r.route({{"type", "fs_list_resp"}, {"path", "/tmp"}, {"entries", {{{"name", "a"}}, 7, {{"name", "b"}}}},
        {"from", "5"}});
    r.route({{"type", "fs_list_resp"}, {"entries", "none"}});
    r.route({{"type", "bye"}, {"from", "4"}, {"reason", "user_close"}});
    EXPECT_EQ(r.calls, (std::vector<std::string>{"input:123456789", "input:", R"(signal:ice|{"candidates":[]}|1)",
                           "signal:|none|", "clip:hello|2", "push:3|hi", "fsListResp:/tmp|2|5", "fsListResp:|0|",
                           "bye:4|user_close"}));
}

TEST(MessageRouter, ServerErrorTextTakesTheFirstNonEmptyCandidate)
{
    EXPECT_EQ(serverErrorText({{"err", {{"message", "inner"}}}, {"message", "outer"}, {"msg", "short"}}), "inner");
    EXPECT_EQ(serverErrorText({{"err", {{"message", ""}}}, {"message", "outer"}, {"msg", "short"}}), "outer");
    EXPECT_EQ(serverErrorText({{"err", "not an object"}, {"message", 3}, {"msg", "short"}}), "short");
    EXPECT_EQ(serverErrorText({{"err", {{"code", 1}}}}), "");

    Recorder r;
    r.route({{"type", "err"}, {"msg", "x"}});
    r.route({{"type", "error"}});
    EXPECT_EQ(r.calls, (std::vector<std::string>{"error:x", "error:"}));
}

TEST(MessageRouter, MessagesWithoutAHandlerAreDroppedWhileTheOthersStillRoute)
{
    Recorder r;
    r.routes.call = nullptr;
    r.routes.input = nullptr;
    r.routes.signal = nullptr;
    r.routes.clipboardText = nullptr;
    r.routes.fsListResp = nullptr;
    r.routes.bye = nullptr;
    for (const auto* type : {"call", "register", "input", "signal", "push_msg", "clipboard_text", "fs_list_resp",
             "bye", "error"}) {
        r.route({{"type", type}, {"text", "x"}, {"from", "1"}});
    }
    EXPECT_EQ(r.calls, (std::vector<std::string>{"register", "push:1|x", "error:"}));
}

} // namespace
} // namespace tavoro::signaling
