#include "programs/common/local_host_media.h"

#include "platform/linux/x11_input_sink.h"

#include <unistd.h>

#include <string>

namespace tavoro::app {
namespace {

// Stands in for input injection when the X server cannot take input.
class NoInputSink final : public platform::InputSink {
public:
    void moveTo(int, int, platform::MouseMotion) override {}
    void button(int, int, platform::MouseButton, bool) override {}
    void scroll(int, int) override {}
    void key(std::uint16_t, bool) override {}
};

std::unique_ptr<platform::InputSink> openInputSink()
{
    if (auto sink = platform::X11InputSink::open("")) {
        return std::move(*sink);
    }
    return std::make_unique<NoInputSink>();
}

// The name this computer gives in "monitors": its host name, else "Linux".
std::string computerName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "Linux";
    }
    return name;
}

} // namespace

LocalHostMedia::LocalHostMedia()
    : input_(openInputSink()), media_{capture_, encoders_, *input_, permissions_, computerName()}
{
}

} // namespace tavoro::app
