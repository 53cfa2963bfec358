#include "platform/linux/x11_capture_source.h"

#include "platform/linux/x11_capture_stream.h"
#include "platform/linux/x11_displays.h"

namespace tavoro::platform {

DisplayList X11CaptureSource::displays()
{
    std::string error;
    auto connection = X11Connection::open(options_.display, error);
    if (!connection) {
        return {{}, error};
    }
    return {listX11Displays(*connection), std::nullopt};
}

StreamOpening X11CaptureSource::openStream(const DisplayInfo& display, const StreamConfig& config,
    StreamHandlers handlers)
{
    std::string error;
    auto stream = X11CaptureStream::open(options_, display, config, std::move(handlers), error);
    if (!stream) {
        return {nullptr, error};
    }
    return {std::move(stream), {}};
}

} // namespace tavoro::platform
