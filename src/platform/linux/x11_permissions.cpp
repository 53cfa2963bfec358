#include "platform/linux/x11_permissions.h"

#include "platform/linux/xcb_handles.h"

#include <xcb/xtest.h>

namespace tavoro::platform {

bool X11Permissions::screenCaptureAllowed()
{
    std::string error;
    return X11Connection::open(displayName_, error) != nullptr;
}

bool X11Permissions::inputInjectionAllowed()
{
    std::string error;
    auto connection = X11Connection::open(displayName_, error);
    return connection && connection->hasExtension(xcb_test_id);
}

} // namespace tavoro::platform
