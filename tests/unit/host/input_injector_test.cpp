#include "host/input_injector.h"

#include "platform/fake/recording_input_sink.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

using Json = nlohmann::json;
using Events = std::vector<std::string>;

class InputInjectorTest : public ::testing::Test {
protected:
    Events run(std::initializer_list<const char*> messages)
    {
        sink.events.clear();
        for (const char* text : messages) {
            injector.handle(Json::parse(text));
        }
        return sink.events;
    }

    platform::fake::RecordingInputSink sink;
    InputInjector injector{sink, {0, 0, 1440, 900}};
};

TEST_F(InputInjectorTest, MovesMapNormalisedPositionsOntoTheScreen)
{
    EXPECT_EQ(run({R"({"kind":"mouse_move","x":0.5,"y":0.5})"}), Events{"move 720 450 moved"});
    EXPECT_EQ(run({R"({"kind":"mouse_move","x":-0.2,"y":7})", R"({"kind":"mouse_move","x":7})",
                  R"({"kind":"mouse_move","x":"a","y":null})", R"({"kind":"mouse_move","x":1,"y":1})"}),
        (Events{"move 0 899 moved", "move 1439 0 moved", "move 0 0 moved", "move 1439 899 moved"}))
        << "1.0 is the last pixel of the screen, not the first of the next display";
}

TEST_F(InputInjectorTest, TheScreenFollowsTheCapturedDisplay)
{
    injector.setScreen({1920, 0, 1920, 1080});
    EXPECT_EQ(run({R"({"kind":"mouse_btn","btn":"left","down":true})", R"({"kind":"mouse_btn","btn":"left"})"}),
        (Events{"button 1920 0 left down", "button 1920 0 left up"}))
        << "before any move, a click lands on the captured display's top-left corner";
    EXPECT_EQ(run({R"({"kind":"mouse_move","x":0.5,"y":0.25})", R"({"kind":"mouse_btn","btn":"left","down":true})"}),
        (Events{"move 2880 270 moved", "button 2880 270 left down"}));
    injector.setScreen({0, 0, 1440, 900});
    EXPECT_EQ(run({R"({"kind":"mouse_btn","btn":"left","down":false})"}), Events{"button 720 225 left up"})
        << "a click after a switch, before the next move, stays on the display being shown";
}

TEST_F(InputInjectorTest, HeldButtonsTurnMovesIntoDrags)
{
    EXPECT_EQ(run({R"({"kind":"mouse_move","x":0.1,"y":0.1})", R"({"kind":"mouse_btn","btn":"left","down":true})",
                  R"({"kind":"mouse_move","x":0.2,"y":0.1})", R"({"kind":"mouse_btn","btn":"left","down":false})",
                  R"({"kind":"mouse_move","x":0.3,"y":0.1})"}),
        (Events{"move 144 90 moved", "button 144 90 left down", "move 288 90 left-dragged", "button 288 90 left up",
            "move 432 90 moved"}));
    EXPECT_EQ(run({R"({"kind":"mouse_btn","btn":"right","down":true})", R"({"kind":"mouse_move","x":0,"y":0})",
                  R"({"kind":"mouse_btn","btn":"x1","down":true})", R"({"kind":"mouse_btn","btn":"right"})",
                  R"({"kind":"mouse_move","x":0,"y":0})", R"({"kind":"mouse_btn","btn":"x2","down":false})"}),
        (Events{"button 432 90 right down", "move 0 0 right-dragged", "button 0 0 other down", "button 0 0 right up",
            "move 0 0 other-dragged", "button 0 0 other up"}));
}

TEST_F(InputInjectorTest, ButtonNamesOutsideTheTablePressTheLeftButton)
{
    EXPECT_EQ(run({R"({"kind":"mouse_btn","btn":"middle","down":true})", R"({"kind":"mouse_btn","btn":"back","down":true})",
                  R"({"kind":"mouse_btn","down":true})", R"({"kind":"mouse_btn","btn":3,"down":"yes"})"}),
        (Events{"button 0 0 other down", "button 0 0 left down", "button 0 0 left down", "button 0 0 left up"}));
}

TEST_F(InputInjectorTest, WheelStepsAreTruncatedCappedAndDropOversizedValues)
{
    EXPECT_EQ(run({R"({"kind":"wheel","dx":0,"dy":3.9})", R"({"kind":"wheel","dx":-2,"dy":-1})",
                  R"({"kind":"wheel","dx":40,"dy":-400})", R"({"kind":"wheel"})"}),
        (Events{"scroll 3 0", "scroll -1 -2", "scroll -10 10", "scroll 0 0"}));
    EXPECT_TRUE(run({R"({"kind":"wheel","dx":0,"dy":2147483648})", R"({"kind":"wheel","dx":-2147483649,"dy":1})",
                    R"({"kind":"wheel","dx":0,"dy":1e300})"})
                    .empty());
    EXPECT_EQ(run({R"({"kind":"wheel","dx":0,"dy":2147483647})"}), Events{"scroll 10 0"});
}

TEST_F(InputInjectorTest, OnlyKnownKeyCodesReachTheSink)
{
    EXPECT_EQ(run({R"({"kind":"key","vk":65,"down":true,"ext":false})", R"({"kind":"key","vk":65.7})",
                  R"({"kind":"key","vk":16,"down":true})", R"({"kind":"key","vk":92,"down":true})",
                  R"({"kind":"key","vk":123,"down":true})", R"({"kind":"key","vk":48,"down":true})"}),
        (Events{"key 65 down", "key 65 up", "key 16 down", "key 92 down", "key 123 down", "key 48 down"}));
    EXPECT_TRUE(run({R"({"kind":"key","vk":186,"down":true})", R"({"kind":"key","vk":-65,"down":true})",
                    R"({"kind":"key","vk":4294967361,"down":true})", R"({"kind":"key","vk":65601,"down":true})",
                    R"({"kind":"key","down":true})"})
                    .empty());
}

TEST_F(InputInjectorTest, UnknownKindsAndNonObjectsAreIgnored)
{
    EXPECT_TRUE(run({R"({"kind":"set_monitor","index":1})", R"({"kind":"teleport"})", R"({})", R"([1,2])", R"("key")",
                    R"(null)"})
                    .empty());
}

} // namespace
} // namespace tavoro::host
