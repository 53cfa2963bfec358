#include "signaling/message_router.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavoro::signaling {
namespace {

using nlohmann::json;

// Records which row took each message.
struct Recorder {
    std::vector<std::string> rows;
    std::vector<std::string> args;
    MessageRoutes routes;

    Recorder()
    {
        routes.callResponse = [this](const std::string& type, const json&) { rows.push_back("callResponse:" + type); };
        routes.registerReply = [this](const json&) { rows.push_back("register"); };
        routes.smsCodeResp = [this](const json&) { rows.push_back("smsCodeResp"); };
        routes.call = [this](const json&) { rows.push_back("call"); };
        routes.input = [this](const json&, const std::string& from) { rows.push_back("input"); args.push_back(from); };
        routes.signal = [this](const std::string& kind, const json* payload, const std::string& from) {
            rows.push_back("signal");
            args.push_back(kind + "|" + (payload ? payload->dump() : "none") + "|" + from);
        };
        routes.clipboardText = [this](const std::string& text, const std::string& from) {
            rows.push_back("clipboard");
            args.push_back(text + "|" + from);
        };
        routes.pushMsg = [this](const std::string& from, const std::string& text) {
            rows.push_back("push");
            args.push_back(from + "|" + text);
        };
        routes.fileTransfer = [this](const std::string& type, const json&) { rows.push_back("file:" + type); };
        routes.fsListResp = [this](const std::string& path, const json::array_t& entries) {
            rows.push_back("fsListResp");
            args.push_back(path + "|" + std::to_string(entries.size()));
        };
        routes.fsRequest = [this](const std::string& type, const json&) { rows.push_back("fs:" + type); };
        routes.bye = [this](const std::string& from, const std::string& reason) {
            rows.push_back("bye");
            args.push_back(from + "|" + reason);
        };
        routes.error = [this](const std::string& text) {
            rows.push_back("error");
            args.push_back(text);
        };
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
    EXPECT_EQ(r.rows, (std::vector<std::string>{"callResponse:call_response", "callResponse:call_ack", "register",
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
    r.route({{"type", "fs_list_resp"}, {"path", "/tmp"}, {"entries", {{{"name", "a"}}, 7, {{"name", "b"}}}}});
    r.route({{"type", "fs_list_resp"}, {"entries", "none"}});
    r.route({{"type", "bye"}, {"from", "4"}, {"reason", "user_close"}});
    EXPECT_EQ(r.rows, (std::vector<std::string>{"input", "input", "signal", "signal", "clipboard", "push", "fsListResp",
                          "fsListResp", "bye"}));
    EXPECT_EQ(r.args, (std::vector<std::string>{"123456789", "", R"(ice|{"candidates":[]}|1)", "|none|", "hello|2",
                          "3|hi", "/tmp|2", "|0", "4|user_close"}));
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
    EXPECT_EQ(r.args, (std::vector<std::string>{"x", ""}));
}

TEST(MessageRouter, MissingHandlersDropTheirMessages)
{
    MessageRoutes none;
    for (const auto* type : {"call", "input", "signal", "bye", "error", "fs_list_resp", "clipboard_text"}) {
        routeText(none, type, {{"type", type}, {"text", "x"}});
    }
}

} // namespace
} // namespace tavoro::signaling
