#include "platform/qt/qt_audio_sink.h"

#include "platform/qt/ring_device.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

namespace tavoro::platform::qt {
namespace {

QAudioFormat floatFormat(int sampleRate, int channels)
{
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Float);
    return format;
}

} // namespace

// The QAudioSink and the device it pulls from. GUI thread only.
class AudioPlayer {
public:
    void start(const QAudioDevice& device, const QAudioFormat& format, std::shared_ptr<SampleRing> ring)
    {
        stop();
        source_ = std::make_unique<RingDevice>(std::move(ring));
        source_->open(QIODevice::ReadOnly);
        sink_ = std::make_unique<QAudioSink>(device, format);
        sink_->start(source_.get());
    }

    void stop()
    {
        if (sink_) {
            sink_->stop();
        }
        sink_.reset();
        source_.reset();
    }

private:
    std::unique_ptr<RingDevice> source_;
    std::unique_ptr<QAudioSink> sink_;
};

QtAudioSink::QtAudioSink(std::shared_ptr<GuiGate> gui, QAudioDevice device)
    : gui_(std::move(gui)), device_(std::move(device)), ring_(std::make_shared<SampleRing>()),
      player_(std::make_shared<AudioPlayer>())
{
}

QtAudioSink::~QtAudioSink()
{
    stop();
    // The last reference to the player goes with this task, so it is destroyed on the GUI thread.
    gui_->post([player = std::move(player_)] {});
}

bool QtAudioSink::start(int sampleRate, int channels)
{
    stop();
    if (sampleRate <= 0 || channels <= 0) {
        return false;
    }
    if (device_.isNull()) {
        return true;
    }
    const auto format = floatFormat(sampleRate, channels);
    if (!device_.isFormatSupported(format)) {
        return false;
    }
    // A ring of its own for each format, so the previous output never reads samples of this one.
    ring_ = std::make_shared<SampleRing>();
    ring_->reset(channels, static_cast<std::size_t>(sampleRate) / 2);
    playing_ = gui_->post([player = player_, device = device_, format, ring = ring_] { player->start(device, format, ring); });
    return playing_;
}

void QtAudioSink::play(std::span<const std::vector<float>> planes)
{
    if (playing_) {
        ring_->write(planes);
    }
}

void QtAudioSink::stop()
{
    if (!std::exchange(playing_, false)) {
        return;
    }
    ring_->reset(0, 0);
    gui_->post([player = player_] { player->stop(); });
}

QtAudioSinkFactory::QtAudioSinkFactory()
    : gate_(std::make_shared<GuiGate>(context_)), devices_(std::make_unique<QMediaDevices>())
{
    QObject::connect(devices_.get(), &QMediaDevices::audioOutputsChanged, &context_, [this] { readDefaultDevice(); });
    readDefaultDevice();
}

QtAudioSinkFactory::~QtAudioSinkFactory() { gate_->close(); }

std::unique_ptr<AudioSink> QtAudioSinkFactory::create()
{
    std::lock_guard lock(mutex_);
    return std::make_unique<QtAudioSink>(gate_, device_);
}

void QtAudioSinkFactory::readDefaultDevice()
{
    auto device = QMediaDevices::defaultAudioOutput();
    std::lock_guard lock(mutex_);
    device_ = std::move(device);
}

} // namespace tavoro::platform::qt
