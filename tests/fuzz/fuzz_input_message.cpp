// Input messages of any shape reach the injector without harm: no crash, no position off the screen.
#include "core/json_fields.h"
#include "host/input_injector.h"
#include "platform/fake/recording_input_sink.h"

#include <cstdlib>
#include <string_view>

namespace {

// Checks every position the injector posted against the screen it maps onto.
class BoundedSink final : public tavoro::platform::InputSink {
public:
    void moveTo(int x, int y, tavoro::platform::MouseMotion) override { check(x, y); }
    void button(int x, int y, tavoro::platform::MouseButton, bool) override { check(x, y); }
    void scroll(int vertical, int horizontal) override
    {
        if (vertical < -10 || vertical > 10 || horizontal < -10 || horizontal > 10) {
            std::abort();
        }
    }
    void key(std::uint16_t, bool) override {}

private:
    static void check(int x, int y)
    {
        if (x < 100 || x >= 100 + 1440 || y < 50 || y >= 50 + 900) {
            std::abort();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    BoundedSink sink;
    tavoro::host::InputInjector injector(sink, {100, 50, 1440, 900});
    const auto message = tavoro::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (message) {
        injector.handle(*message);
    }
    return 0;
}
