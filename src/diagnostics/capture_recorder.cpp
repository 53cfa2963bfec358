#include "diagnostics/capture_recorder.h"

#include "core/log.h"

namespace tavoro::diagnostics {

CaptureRecorder::CaptureRecorder(platform::H264EncoderFactory& factory, int fps, int bitrateKbps,
    std::ostream& sink, int wantedFrames)
    : factory_(factory), fps_(fps), bitrateKbps_(bitrateKbps), sink_(sink), wantedFrames_(wantedFrames)
{
}

void CaptureRecorder::accept()
{
    std::lock_guard lock(mutex_);
    accepting_ = true;
}

void CaptureRecorder::onFrame(const platform::PixelBufferRef& picture, int width, int height)
{
    {
        std::lock_guard lock(mutex_);
        if (!accepting_ || summary_.frames >= wantedFrames_ || !summary_.error.empty()) {
            return;
        }
    }
    if (!encoder_ || encoder_->width() != width || encoder_->height() != height) {
        encoder_.reset();
        encoder_ = host::VideoEncoder::create(factory_, width, height, fps_, bitrateKbps_);
        if (!encoder_) {
            log::warn("Tavoro: H.264 编码器创建失败");
            fail("the H.264 encoder could not be opened for " + std::to_string(width) + "x" + std::to_string(height));
            return;
        }
        encoder_->onEncoded = [this](std::vector<std::uint8_t> accessUnit, bool isKey) { write(accessUnit, isKey); };
    }
    encoder_->encode(*picture);
    const auto timings = encoder_->lastTimings();
    std::lock_guard lock(mutex_);
    summary_.width = width;
    summary_.height = height;
    summary_.grab.add(picture->timings.grabMs);
    summary_.scaleAndConvert.add(picture->timings.scaleMs + timings.convertMs);
    summary_.encode.add(timings.encodeMs);
}

void CaptureRecorder::write(const std::vector<std::uint8_t>& accessUnit, bool isKey)
{
    sink_.write(reinterpret_cast<const char*>(accessUnit.data()), static_cast<std::streamsize>(accessUnit.size()));
    std::lock_guard lock(mutex_);
    if (!sink_) {
        summary_.error = "the output file could not be written";
    }
    ++summary_.frames;
    summary_.keyframes += isKey ? 1 : 0;
    summary_.bytes += accessUnit.size();
    changed_.notify_all();
}

void CaptureRecorder::fail(const std::string& error)
{
    std::lock_guard lock(mutex_);
    if (summary_.error.empty()) {
        summary_.error = error;
    }
    changed_.notify_all();
}

bool CaptureRecorder::waitUntilDone(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return summary_.frames >= wantedFrames_ || !summary_.error.empty(); });
    return summary_.frames >= wantedFrames_ && summary_.error.empty();
}

RecordingSummary CaptureRecorder::summary() const
{
    std::lock_guard lock(mutex_);
    return summary_;
}

} // namespace tavoro::diagnostics
