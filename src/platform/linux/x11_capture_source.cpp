#include "platform/linux/x11_capture_source.h"

#include "platform/linux/x11_capture_stream.h"
#include "platform/linux/x11_displays.h"

namespace tavoro::platform {

Result<std::vector<DisplayInfo>> X11CaptureSource::displays()
{
    auto connection = X11Connection::open(options_.display);
    if (!connection) {
        return Failure{connection.error()};
    }
    return listX11Displays(*connection.value());
}

Result<std::unique_ptr<CaptureStream>> X11CaptureSource::openStream(const DisplayInfo& display,
    const StreamConfig& config, StreamHandlers handlers)
{
    auto stream = X11CaptureStream::open(options_, display, config, std::move(handlers));
    if (!stream) {
        return Failure{stream.error()};
    }
    return std::move(*stream);
}

} // namespace tavoro::platform
