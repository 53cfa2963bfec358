#include "platform/linux/x11_capture_stream.h"

#include "core/event_loop.h"
#include "platform/linux/frame_scaler.h"

#include <system_error>

namespace tavoro::platform {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::nanoseconds intervalFor(int fps)
{
    return std::chrono::nanoseconds(std::chrono::seconds(1)) / std::max(fps, 1);
}

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

Result<std::unique_ptr<X11CaptureStream>> X11CaptureStream::open(const X11CaptureOptions& options,
    const DisplayInfo& display, const StreamConfig& config, StreamHandlers handlers)
{
    if (config.width <= 0 || config.height <= 0 || display.bounds.width <= 0 || display.bounds.height <= 0) {
        return Failure{"显示器或输出尺寸无效"};
    }
    auto connection = X11Connection::open(options.display);
    if (!connection) {
        return Failure{connection.error()};
    }
    auto grabber = makeScreenGrabber(*connection.value(), display.bounds, options.grabMethod);
    if (!grabber) {
        return Failure{grabber.error()};
    }
    std::unique_ptr<X11CaptureStream> stream(
        new X11CaptureStream(std::move(*connection), display, config, std::move(handlers)));
    stream->grabber_ = std::move(*grabber);
    return stream;
}

X11CaptureStream::X11CaptureStream(std::unique_ptr<X11Connection> connection, const DisplayInfo& display,
    const StreamConfig& config, StreamHandlers handlers)
    : connection_(std::move(connection)), damage_(std::make_unique<DamageWatch>(*connection_)),
      display_(display), config_(config), handlers_(std::move(handlers)), tracker_(display.bounds),
      pool_(std::max(config.queueDepth, 1)), interval_(intervalFor(config.fps))
{
    if (config.showsCursor) {
        cursor_ = std::make_unique<CursorSource>(*connection_);
    }
}

X11CaptureStream::~X11CaptureStream()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

Result<> X11CaptureStream::start()
{
    if (thread_.joinable()) {
        return {};
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& error) {
        return Failure{std::string("无法创建抓屏线程：") + error.what()};
    }
    return {};
}

Result<> X11CaptureStream::setFps(int fps)
{
    if (fps <= 0) {
        return Failure{"帧率必须为正数"};
    }
    {
        std::lock_guard lock(mutex_);
        interval_ = intervalFor(fps);
    }
    wake_.notify_all();
    return {};
}

void X11CaptureStream::requestFrame() { requested_ = true; }

void X11CaptureStream::run()
{
    core::setCurrentThreadName("tavoro.capture");
    auto next = Clock::now();
    auto result = TickResult::grabbed;
    while (waitForTick(next, result == TickResult::idle)) {
        const auto started = Clock::now();
        result = tick();
        if (result == TickResult::stopped) {
            return;
        }
        std::lock_guard lock(mutex_);
        next = started + interval_;
    }
}

// Grabs stay at least one frame interval apart: a tick that grabbed is followed by the next one an
// interval later. After an idle tick the last grab is already an interval old, so a change on the
// display may start the next tick at once.
bool X11CaptureStream::waitForTick(Clock::time_point next, bool idle)
{
    if (idle) {
        damage_->waitForDamage(next - Clock::now());
    }
    std::unique_lock lock(mutex_);
    if (!idle) {
        wake_.wait_until(lock, next, [this] { return stopping_; });
    }
    return !stopping_;
}

X11CaptureStream::TickResult X11CaptureStream::tick()
{
    if (connection_->broken()) {
        handlers_.onStopped("与 X 服务器的连接已断开");
        return TickResult::stopped;
    }
    damage_->collect(tracker_);
    std::optional<CursorPicture> cursor;
    if (cursor_) {
        cursor = cursor_->fetch();
        if (cursor) {
            tracker_.cursorAt(cursor->area, cursor->serial);
        }
    }
    if (requested_.exchange(false)) {
        tracker_.request();
    }
    if (!tracker_.pending()) {
        return TickResult::idle;
    }
    if (!grabAndDeliver(cursor)) {
        handlers_.onStopped(connection_->broken() ? "与 X 服务器的连接已断开"
                                                  : "读取屏幕失败（显示器区域可能已不在屏幕内）");
        return TickResult::stopped;
    }
    return TickResult::grabbed;
}

bool X11CaptureStream::grabAndDeliver(const std::optional<CursorPicture>& cursor)
{
    auto buffer = pool_.acquire(config_.width, config_.height);
    if (!buffer) {
        return true; // every buffer is still in use downstream; the change stays pending
    }
    const auto grabStart = Clock::now();
    auto image = grabber_->grab();
    if (!image) {
        return false;
    }
    if (cursor) {
        drawCursor(*image, display_.bounds.x, display_.bounds.y, *cursor);
    }
    buffer->timings.grabMs = millisSince(grabStart);
    const auto scaleStart = Clock::now();
    scaleInto(*image, *buffer);
    buffer->timings.scaleMs = millisSince(scaleStart);
    tracker_.delivered();
    if (handlers_.onSample) {
        handlers_.onSample({FrameStatus::complete, std::move(buffer)});
    }
    return true;
}

} // namespace tavoro::platform
