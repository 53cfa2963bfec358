#include "platform/linux/x11_input_sink.h"

#include "platform/linux/x11_key_map.h"

#include <xcb/xtest.h>

#include <cstdlib>
#include <cstdint>

namespace tavoro::platform {

namespace {

constexpr std::uint8_t wheelUp = 4;
constexpr std::uint8_t wheelDown = 5;
constexpr std::uint8_t wheelLeft = 6;
constexpr std::uint8_t wheelRight = 7;

std::uint8_t xButton(MouseButton button)
{
    switch (button) {
    case MouseButton::right:
        return 3;
    case MouseButton::other:
        return 2;
    case MouseButton::left:
        break;
    }
    return 1;
}

} // namespace

Result<std::unique_ptr<X11InputSink>> X11InputSink::open(const std::string& displayName)
{
    auto connection = X11Connection::open(displayName);
    if (!connection) {
        return Failure{connection.error()};
    }
    if (!connection.value()->hasExtension(xcb_test_id)) {
        return Failure{"X 服务器缺少 XTEST 扩展"};
    }
    return std::unique_ptr<X11InputSink>(new X11InputSink(std::move(*connection)));
}

X11InputSink::X11InputSink(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)), keySymbols_(xcb_key_symbols_alloc(connection_->get()))
{
}

X11InputSink::~X11InputSink()
{
    auto* c = connection_->get();
    takeReply(xcb_get_input_focus_reply, c, xcb_get_input_focus(c));
}

void X11InputSink::fake(std::uint8_t type, std::uint8_t detail, int x, int y)
{
    xcb_test_fake_input(connection_->get(), type, detail, XCB_CURRENT_TIME, connection_->root(),
        static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
}

void X11InputSink::moveTo(int x, int y, MouseMotion)
{
    fake(XCB_MOTION_NOTIFY, 0, x, y);
    xcb_flush(connection_->get());
}

void X11InputSink::button(int x, int y, MouseButton button, bool down)
{
    fake(XCB_MOTION_NOTIFY, 0, x, y);
    fake(down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, xButton(button));
    xcb_flush(connection_->get());
}

void X11InputSink::click(std::uint8_t button, int times)
{
    for (int i = 0; i < times; ++i) {
        fake(XCB_BUTTON_PRESS, button);
        fake(XCB_BUTTON_RELEASE, button);
    }
}

void X11InputSink::scroll(int verticalSteps, int horizontalSteps)
{
    click(verticalSteps > 0 ? wheelUp : wheelDown, std::abs(verticalSteps));
    click(horizontalSteps > 0 ? wheelLeft : wheelRight, std::abs(horizontalSteps));
    xcb_flush(connection_->get());
}

void X11InputSink::key(std::uint16_t code, bool down)
{
    const auto keysym = keysymForVk(code);
    if (!keySymbols_ || !keysym) {
        return;
    }
    XcbReply<xcb_keycode_t> keycodes(xcb_key_symbols_get_keycode(keySymbols_.get(), *keysym));
    if (!keycodes || keycodes.get()[0] == XCB_NO_SYMBOL) {
        return;
    }
    fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycodes.get()[0]);
    xcb_flush(connection_->get());
}

} // namespace tavoro::platform
