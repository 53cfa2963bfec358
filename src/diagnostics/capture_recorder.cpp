#include "diagnostics/capture_recorder.h"

namespace tavoro::diagnostics {

CaptureRecorder::CaptureRecorder(platform::H264EncoderFactory& factory, int fps, int bitrateKbps,
    std::ostream& sink, int wantedFrames)
    : encoding_(factory, fps), bitrateKbps_(bitrateKbps), sink_(sink), wantedFrames_(wantedFrames)
{
    encoding_.onEncoded = [this](std::vector<std::uint8_t> accessUnit, bool isKey, int, int) { write(accessUnit, isKey); };
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
        if (!accepting_ || summary_.frames >= wantedFrames_ || failure_) {
            return;
        }
    }
    host::EncodeRequest request;
    request.bitrateKbps = bitrateKbps_;
    encoding_.encode(*picture, width, height, request);
    if (!encoding_.hasEncoder()) {
        fail("the H.264 encoder could not be opened for " + std::to_string(width) + "x" + std::to_string(height));
        return;
    }
    const auto timings = encoding_.encoder()->lastTimings();
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
        failure_ = Failure{"the output file could not be written"};
    }
    ++summary_.frames;
    summary_.keyframes += isKey ? 1 : 0;
    summary_.bytes += accessUnit.size();
    changed_.notify_all();
}

void CaptureRecorder::fail(const std::string& error)
{
    std::lock_guard lock(mutex_);
    if (!failure_) {
        failure_ = Failure{error};
    }
    changed_.notify_all();
}

bool CaptureRecorder::waitUntilDone(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return summary_.frames >= wantedFrames_ || failure_; });
    return summary_.frames >= wantedFrames_ && !failure_;
}

Result<RecordingSummary> CaptureRecorder::summary() const
{
    std::lock_guard lock(mutex_);
    if (failure_) {
        return *failure_;
    }
    return summary_;
}

} // namespace tavoro::diagnostics
