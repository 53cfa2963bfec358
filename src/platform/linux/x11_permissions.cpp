#include "platform/linux/x11_permissions.h"

#include "platform/linux/xcb_handles.h"

#include <xcb/xtest.h>

namespace tavoro::platform {

bool X11Permissions::screenCaptureAllowed()
{
    return X11Connection::open(displayName_).ok();
}

bool X11Permissions::inputInjectionAllowed()
{
    auto connection = X11Connection::open(displayName_);
    return connection && connection.value()->hasExtension(xcb_test_id);
}

} // namespace tavoro::platform
