#include "programs/tavoro-cli/input_script.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tavoro::cli {
namespace {

TEST(InputScript, LinesBecomeEventsPausesOrErrors)
{
    struct Case {
        const char* line;
        const char* expect; // "skip", "error", "pause <s>", or the event's JSON
    };
    const Case cases[] = {
        {"", "skip"},
        {"   \t", "skip"},
        {"# a comment", "skip"},
        {R"({"kind":"mouse_move","x":0.5,"y":0.25})", R"({"kind":"mouse_move","x":0.5,"y":0.25})"},
        {R"({"kind":"key","vk":65,"down":true,"to":"999999999","call_id":"x","type":"bye"})",
            R"({"down":true,"kind":"key","vk":65})"},
        {R"({"sleep": 0.5})", "pause 0.5"},
        {R"({"sleep": 2})", "pause 2"},
        {R"({"sleep": -1})", "error"},
        {R"({"sleep": 1e9})", "error"},
        {R"({"sleep": "1"})", "error"},
        {R"({"x": 1})", "error"},
        {R"({"kind": 3})", "error"},
        {R"([{"kind":"wheel"}])", "error"},
        {R"({"kind":"wheel")", "error"},
        {"\xff\xfe", "error"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseScriptLine(c.line);
        std::ostringstream got;
        switch (parsed.kind) {
        case ScriptLine::Kind::blank: got << "skip"; break;
        case ScriptLine::Kind::invalid: got << "error"; break;
        case ScriptLine::Kind::pause: got << "pause " << parsed.seconds; break;
        case ScriptLine::Kind::event: got << parsed.fields.dump(); break;
        }
        EXPECT_EQ(got.str(), c.expect) << c.line;
    }
}

} // namespace
} // namespace tavoro::cli
