#include "platform/fake/fake_capture_source.h"

#include <algorithm>

namespace tavoro::platform::fake {

namespace {

class FakeCaptureStream final : public CaptureStream {
public:
    FakeCaptureStream(std::shared_ptr<FakeStreamRecord> record, const FakeCaptureSource& source)
        : record_(std::move(record)), startError_(source.startError), fpsError_(source.fpsError)
    {
    }
    ~FakeCaptureStream() override { record_->destroyed = true; }

    Result<> start() override
    {
        record_->started = !startError_;
        return outcome(startError_);
    }
    Result<> setFps(int fps) override
    {
        record_->fpsChanges.push_back(fps);
        return outcome(fpsError_);
    }
    void requestFrame() override { ++record_->frameRequests; }

private:
    static Result<> outcome(const std::optional<std::string>& error)
    {
        if (error) {
            return Failure{*error};
        }
        return {};
    }

    std::shared_ptr<FakeStreamRecord> record_;
    std::optional<std::string> startError_;
    std::optional<std::string> fpsError_;
};

} // namespace

Result<std::unique_ptr<CaptureStream>> FakeCaptureSource::openStream(const DisplayInfo& display,
    const StreamConfig& config, StreamHandlers handlers)
{
    if (openError) {
        return Failure{*openError};
    }
    auto record = std::make_shared<FakeStreamRecord>();
    record->display = display;
    record->config = config;
    record->handlers = std::move(handlers);
    streams.push_back(record);
    return std::make_unique<FakeCaptureStream>(record, *this);
}

int FakeCaptureSource::liveStreams() const
{
    return static_cast<int>(std::count_if(streams.begin(), streams.end(),
        [](const auto& record) { return !record->destroyed; }));
}

std::vector<DisplayInfo> sideBySide(int n, int width, int height)
{
    std::vector<DisplayInfo> displays;
    for (int i = 0; i < n; ++i) {
        displays.push_back({"display-" + std::to_string(i), {i * width, 0, width, height}});
    }
    return displays;
}

} // namespace tavoro::platform::fake
