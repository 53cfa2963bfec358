#pragma once

#include "platform/input_sink.h"
#include "platform/linux/xcb_handles.h"

#include <xcb/xcb_keysyms.h>

#include <memory>
#include <string>

namespace tavoro::platform {

// Posts input on an X server through XTEST. Motion with a held button reaches clients as a drag, as
// with a real mouse, so the motion kind needs no event of its own. Used by one thread at a time.
class X11InputSink final : public InputSink {
public:
    // Fails when the display does not open or lacks XTEST.
    static Result<std::unique_ptr<X11InputSink>> open(const std::string& displayName);
    // Waits until the server has taken every posted event: a connection closed with requests still
    // unread may lose them.
    ~X11InputSink() override;

    void moveTo(int x, int y, MouseMotion motion) override;
    void button(int x, int y, MouseButton button, bool down) override;
    void scroll(int verticalSteps, int horizontalSteps) override;
    void key(std::uint16_t code, bool down) override;

private:
    struct FreeKeySymbols {
        void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
    };

    explicit X11InputSink(std::unique_ptr<X11Connection> connection);
    void fake(std::uint8_t type, std::uint8_t detail, int x = 0, int y = 0);
    void click(std::uint8_t button, int times);

    std::unique_ptr<X11Connection> connection_;
    std::unique_ptr<xcb_key_symbols_t, FreeKeySymbols> keySymbols_;
};

} // namespace tavoro::platform
