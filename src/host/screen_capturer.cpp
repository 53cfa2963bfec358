#include "host/screen_capturer.h"

#include "core/log.h"
#include "host/output_size.h"

#include <algorithm>

namespace tavoro::host {

namespace {

const std::string listFailedPrefix = "获取屏幕内容失败: ";
const std::string noDisplayText = "没有可用显示器";
const std::string setUpFailedPrefix = "添加输出失败: ";
const std::string startFailedText =
    "启动捕获失败：请在 系统设置 → 隐私与安全性 → 屏幕录制 勾选 Tavoro，勾选后**必须彻底退出 Tavoro "
    "再重新打开**（macOS 限制，重新编译后权限会失效需重勾）。";
const std::string startFailedDetail = "详情：";
const std::string engineStoppedPrefix = "捕获中止: ";
constexpr int queueDepth = 5;

} // namespace

int wrapDisplayIndex(std::int64_t to, int count)
{
    return static_cast<int>(((to % count) + count) % count);
}

ScreenCapturer::ScreenCapturer(platform::CaptureSource& source, int fps) : source_(source), fps_(fps) {}

ScreenCapturer::~ScreenCapturer()
{
    std::lock_guard operation(operationMutex_);
    stream_.reset();
}

void ScreenCapturer::start()
{
    std::lock_guard operation(operationMutex_);
    takeStream().reset();
    auto list = source_.displays();
    if (!list) {
        reportError(listFailedPrefix + list.error());
        return;
    }
    if (list->empty()) {
        reportError(noDisplayText);
        return;
    }
    const auto count = static_cast<int>(list->size());
    {
        std::lock_guard state(stateMutex_);
        displays_ = std::move(*list);
        index_ = std::min(index_, count - 1);
    }
    selectDisplay(count);
}

void ScreenCapturer::switchDisplay(std::int64_t to)
{
    std::lock_guard operation(operationMutex_);
    int count = 0;
    {
        std::lock_guard state(stateMutex_);
        count = static_cast<int>(displays_.size());
        if (count == 0) {
            return;
        }
        index_ = wrapDisplayIndex(to, count);
    }
    takeStream().reset();
    selectDisplay(count);
}

void ScreenCapturer::selectDisplay(int count)
{
    if (onDisplays) {
        onDisplays(count, index());
    }
    setUpStream();
}

void ScreenCapturer::setFps(int fps)
{
    std::lock_guard operation(operationMutex_);
    {
        std::lock_guard state(stateMutex_);
        if (fps <= 0 || fps == fps_) {
            return;
        }
        fps_ = fps;
    }
    if (!stream_ || !config_) {
        return;
    }
    config_->fps = fps;
    if (auto changed = stream_->setFps(fps); !changed) {
        log::warn("Tavoro capture: 帧率更新失败 " + changed.error());
    }
}

void ScreenCapturer::refresh()
{
    std::lock_guard operation(operationMutex_);
    if (stream_) {
        stream_->requestFrame();
    }
}

void ScreenCapturer::stop()
{
    std::lock_guard operation(operationMutex_);
    if (!stream_) {
        return;
    }
    auto old = takeStream();
    {
        std::lock_guard state(stateMutex_);
        displays_.clear();
    }
    old.reset();
    log::info("Tavoro capture: 已停止抓屏，流已释放");
}

void ScreenCapturer::setUpStream()
{
    platform::DisplayInfo display;
    platform::StreamConfig config;
    {
        std::lock_guard state(stateMutex_);
        display = displays_[static_cast<std::size_t>(index_)];
        const auto size = captureOutputSize(display.bounds.width, display.bounds.height);
        outWidth_ = size.width;
        outHeight_ = size.height;
        config = {size.width, size.height, fps_, true, queueDepth};
    }
    if (onDisplayBounds) {
        onDisplayBounds(display.bounds);
    }
    config_ = config;
    platform::StreamHandlers handlers{
        [this, width = config.width, height = config.height](platform::CaptureSample sample) {
            handleSample(sample, width, height);
        },
        [this](const std::string& reason) { reportError(engineStoppedPrefix + reason); },
    };
    auto opening = source_.openStream(display, config, std::move(handlers));
    if (!opening) {
        reportError(setUpFailedPrefix + opening.error());
        return;
    }
    stream_ = std::move(*opening);
    if (auto started = stream_->start(); !started) {
        reportError(startFailedText + startFailedDetail + started.error());
    }
}

void ScreenCapturer::handleSample(const platform::CaptureSample& sample, int width, int height)
{
    if (sample.status != platform::FrameStatus::complete || !sample.buffer) {
        return;
    }
    if (onFrame) {
        onFrame(sample.buffer, width, height);
    }
}

void ScreenCapturer::reportError(const std::string& message)
{
    if (onError) {
        onError(message);
    }
}

std::unique_ptr<platform::CaptureStream> ScreenCapturer::takeStream()
{
    config_.reset();
    return std::move(stream_);
}

int ScreenCapturer::outWidth() const
{
    std::lock_guard state(stateMutex_);
    return outWidth_;
}

int ScreenCapturer::outHeight() const
{
    std::lock_guard state(stateMutex_);
    return outHeight_;
}

int ScreenCapturer::fps() const
{
    std::lock_guard state(stateMutex_);
    return fps_;
}

int ScreenCapturer::index() const
{
    std::lock_guard state(stateMutex_);
    return index_;
}

int ScreenCapturer::displayCount() const
{
    std::lock_guard state(stateMutex_);
    return static_cast<int>(displays_.size());
}

} // namespace tavoro::host
