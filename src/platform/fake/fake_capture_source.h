#pragma once

#include "platform/capture_source.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::platform::fake {

// What a test sees of one stream opened on a FakeCaptureSource; it outlives the stream itself.
struct FakeStreamRecord {
    DisplayInfo display;
    StreamConfig config;
    StreamHandlers handlers;
    bool started = false;
    bool destroyed = false;
    int frameRequests = 0;
    std::vector<int> fpsChanges;

    // Hands a sample to the stream's owner on the calling thread, as the engine's thread would.
    void deliver(CaptureSample sample) const
    {
        if (handlers.onSample) {
            handlers.onSample(std::move(sample));
        }
    }
    void stopWithError(const std::string& reason) const
    {
        if (handlers.onStopped) {
            handlers.onStopped(reason);
        }
    }
};

// A capture source whose displays, failures and samples the test decides. Streams deliver nothing
// by themselves; the test calls deliver() on their records. Not for concurrent use.
class FakeCaptureSource final : public CaptureSource {
public:
    std::vector<DisplayInfo> displayList;
    std::optional<std::string> listError;
    std::optional<std::string> openError;
    std::optional<std::string> startError;
    std::optional<std::string> fpsError;

    Result<std::vector<DisplayInfo>> displays() override
    {
        ++listCalls;
        if (listError) {
            return Failure{*listError};
        }
        return displayList;
    }

    Result<std::unique_ptr<CaptureStream>> openStream(const DisplayInfo& display, const StreamConfig& config,
        StreamHandlers handlers) override;

    // Every stream opened so far, the newest last.
    std::vector<std::shared_ptr<FakeStreamRecord>> streams;
    int listCalls = 0;

    FakeStreamRecord& last() { return *streams.back(); }
    int liveStreams() const;
};

// A display list of n displays side by side, each width × height.
std::vector<DisplayInfo> sideBySide(int n, int width, int height);

} // namespace tavoro::platform::fake
