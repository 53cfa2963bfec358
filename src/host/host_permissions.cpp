#include "host/host_permissions.h"

#include "core/log.h"

namespace tavoro::host {

bool checkHostPermissions(platform::Permissions& permissions, bool injectInput,
    const std::function<void(const std::string&)>& onStatus)
{
    if (!permissions.screenCaptureAllowed()) {
        log::info("Tavoro host: 缺屏幕录制权限");
        if (onStatus) {
            onStatus(std::string(noScreenCaptureStatus));
        }
        return false;
    }
    if (injectInput && !permissions.inputInjectionAllowed() && onStatus) {
        onStatus(std::string(noInputInjectionStatus));
    }
    return true;
}

} // namespace tavoro::host
