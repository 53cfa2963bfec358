#pragma once

#include "core/result.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace tavoro::platform {

// XCB replies and errors are malloc'd and freed with free().
struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

template <class Reply>
using XcbReply = std::unique_ptr<Reply, FreeDeleter>;

// Waits for the reply of a request; an error reply is dropped and yields an empty result.
template <class Reply, class Cookie>
XcbReply<Reply> takeReply(Reply* (*replyFunction)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
    xcb_connection_t* connection, Cookie cookie)
{
    xcb_generic_error_t* error = nullptr;
    XcbReply<Reply> reply(replyFunction(connection, cookie, &error));
    std::free(error);
    return reply;
}

// Whether a checked request without reply succeeded.
inline bool succeeded(xcb_connection_t* connection, xcb_void_cookie_t cookie)
{
    XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
    return !error;
}

// One connection to an X server and its default screen. Used by one thread at a time.
class X11Connection {
public:
    // Connects to the display named (empty: $DISPLAY).
    static Result<std::unique_ptr<X11Connection>> open(const std::string& displayName);

    xcb_connection_t* get() const { return connection_.get(); }
    const xcb_screen_t& screen() const { return *screen_; }
    xcb_window_t root() const { return screen_->root; }
    bool broken() const { return xcb_connection_has_error(connection_.get()) != 0; }
    // Whether the server offers the extension (the query is cached by XCB).
    bool hasExtension(xcb_extension_t& extension) const;
    // The first event code of an extension.
    std::uint8_t firstEvent(xcb_extension_t& extension) const;

private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };

    X11Connection(std::unique_ptr<xcb_connection_t, Disconnect> connection, const xcb_screen_t* screen)
        : connection_(std::move(connection)), screen_(screen)
    {
    }

    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    const xcb_screen_t* screen_; // owned by the connection's setup data
};

} // namespace tavoro::platform
