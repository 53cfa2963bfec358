#include "control/video_decoder.h"

#include "control/parameter_sets.h"
#include "core/log.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tavoro::control {

namespace {

constexpr std::uint8_t startCode[] = {0, 0, 0, 1};

void appendUnit(std::vector<std::uint8_t>& out, NalUnit unit)
{
    out.insert(out.end(), std::begin(startCode), std::end(startCode));
    out.insert(out.end(), unit.begin(), unit.end());
}

} // namespace

struct VideoDecoder::State {
    State(platform::H264DecoderFactory& decoderFactory, std::shared_ptr<core::SerialQueue> decodeQueue)
        : factory(decoderFactory), queue(std::move(decodeQueue))
    {
    }

    void handle(std::span<const std::uint8_t> accessUnit);
    bool skipBacklog(std::span<const NalUnit> units, int waitingUnits);
    void reopen();
    void feed(std::span<const NalUnit> pictureUnits);
    void show(const platform::DecodedPicture& picture);
    void attach(std::shared_ptr<platform::DisplaySink> newSink);
    void release();

    platform::H264DecoderFactory& factory;
    const std::shared_ptr<core::SerialQueue> queue;
    std::atomic<int> waiting{0}; // units posted whose task has not started
    std::atomic<std::uint64_t> decoded{0};

    // On `queue` only.
    ParameterSetTracker parameterSets;
    std::unique_ptr<platform::H264Decoder> decoder;
    std::shared_ptr<platform::DisplaySink> sink;
    bool needsParameterSets = false; // the decoder has not been given the current parameter sets
    bool flushFirst = false;         // a new decoder replaced one: the sink drops its picture first
    bool skippingToKeyframe = false;
    std::vector<std::uint8_t> buffer; // the Annex-B bytes handed to the decoder, reused

    mutable std::mutex pictureMutex;
    std::optional<platform::DecodedPicture> latest; // guarded by pictureMutex
    int releasesQueued = 0;                         // guarded by pictureMutex
};

void VideoDecoder::State::handle(std::span<const std::uint8_t> accessUnit)
{
    const int waitingUnits = waiting.fetch_sub(1);
    const auto units = protocol::splitAnnexB(accessUnit);
    if (skipBacklog(units, waitingUnits)) {
        return;
    }
    const auto classified = parameterSets.classify(units);
    if (classified.parametersChanged) {
        needsParameterSets = true;
        reopen();
    }
    if (decoder && !classified.pictureUnits.empty()) {
        feed(classified.pictureUnits);
    }
}

bool VideoDecoder::State::skipBacklog(std::span<const NalUnit> units, int waitingUnits)
{
    if (waitingUnits > kMaxBacklog && !skippingToKeyframe) {
        skippingToKeyframe = true;
        log::info("Tavoro: 解码积压 " + std::to_string(waitingUnits) + " 帧，跳到下一个关键帧");
    }
    if (skippingToKeyframe && containsIdrSlice(units)) {
        skippingToKeyframe = false;
    }
    return skippingToKeyframe;
}

void VideoDecoder::State::reopen()
{
    if (!parameterSets.complete()) {
        return;
    }
    auto fresh = factory.create();
    if (!fresh) {
        return; // the old decoder, if any, goes on
    }
    flushFirst = flushFirst || decoder != nullptr;
    decoder = std::move(fresh);
}

void VideoDecoder::State::feed(std::span<const NalUnit> pictureUnits)
{
    buffer.clear();
    if (needsParameterSets) {
        appendUnit(buffer, parameterSets.sps());
        appendUnit(buffer, parameterSets.pps());
        needsParameterSets = false;
    }
    for (const NalUnit unit : pictureUnits) {
        appendUnit(buffer, unit);
    }
    decoder->decode(buffer, [this](const platform::DecodedPicture& picture) { show(picture); });
}

void VideoDecoder::State::show(const platform::DecodedPicture& picture)
{
    {
        std::lock_guard lock(pictureMutex);
        if (releasesQueued > 0) {
            return;
        }
        latest = picture;
    }
    ++decoded;
    if (std::exchange(flushFirst, false) && sink) {
        sink->flush();
    }
    if (sink) {
        sink->present(picture);
    }
}

void VideoDecoder::State::attach(std::shared_ptr<platform::DisplaySink> newSink)
{
    sink = std::move(newSink);
    std::optional<platform::DecodedPicture> picture;
    {
        std::lock_guard lock(pictureMutex);
        picture = latest;
    }
    if (sink && picture) {
        sink->present(*picture);
    }
}

void VideoDecoder::State::release()
{
    if (sink) {
        sink->clear();
    }
    decoder.reset();
    parameterSets.reset();
    needsParameterSets = false;
    flushFirst = false;
    skippingToKeyframe = false;
    std::lock_guard lock(pictureMutex);
    latest.reset();
    --releasesQueued;
}

std::shared_ptr<VideoDecoder> VideoDecoder::create(platform::H264DecoderFactory& factory,
    std::shared_ptr<core::SerialQueue> queue)
{
    return std::shared_ptr<VideoDecoder>(new VideoDecoder(factory, std::move(queue)));
}

VideoDecoder::VideoDecoder(platform::H264DecoderFactory& factory, std::shared_ptr<core::SerialQueue> queue)
    : state_(std::make_unique<State>(factory, std::move(queue)))
{
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::decode(std::span<const std::uint8_t> accessUnit, int width, int height)
{
    if (width <= 0 || height <= 0 || accessUnit.empty()) {
        return;
    }
    ++state_->waiting;
    state_->queue->post([weak = weak_from_this(), bytes = std::vector(accessUnit.begin(), accessUnit.end())] {
        if (const auto self = weak.lock()) {
            self->state_->handle(bytes);
        }
    });
}

std::optional<platform::DecodedPicture> VideoDecoder::snapshot() const
{
    std::lock_guard lock(state_->pictureMutex);
    return state_->latest;
}

void VideoDecoder::attach(std::shared_ptr<platform::DisplaySink> sink)
{
    state_->queue->post([weak = weak_from_this(), sink = std::move(sink)]() mutable {
        if (const auto self = weak.lock()) {
            self->state_->attach(std::move(sink));
        }
    });
}

void VideoDecoder::release()
{
    {
        std::lock_guard lock(state_->pictureMutex);
        state_->latest.reset();
        ++state_->releasesQueued;
    }
    state_->queue->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->state_->release();
        }
    });
}

std::uint64_t VideoDecoder::decodedPictures() const { return state_->decoded; }

} // namespace tavoro::control
