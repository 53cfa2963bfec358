#pragma once

#include "platform/audio_sink.h"
#include "platform/qt/gui_gate.h"
#include "platform/qt/sample_ring.h"

#include <QAudioDevice>
#include <QObject>

#include <memory>
#include <mutex>

class QMediaDevices;

namespace tavoro::platform::qt {

class AudioPlayer;

// Plays float chunks on one Qt audio output. The chunks go into a ring of about half a second that the
// QAudioSink, living on the GUI thread, pulls from; when the device falls behind, the oldest audio gives
// way. Without a device (a null QAudioDevice) every format is accepted and every chunk dropped. Called
// by one thread at a time (the session's media path); the QAudioSink is only touched on the GUI thread,
// through `gui`. Destroy it before the QApplication.
class QtAudioSink final : public AudioSink {
public:
    QtAudioSink(std::shared_ptr<GuiGate> gui, QAudioDevice device);
    ~QtAudioSink() override;
    QtAudioSink(const QtAudioSink&) = delete;
    QtAudioSink& operator=(const QtAudioSink&) = delete;

    bool start(int sampleRate, int channels) override;
    void play(std::span<const std::vector<float>> planes) override;
    void stop() override;

private:
    std::shared_ptr<GuiGate> gui_;
    QAudioDevice device_;
    std::shared_ptr<SampleRing> ring_;
    std::shared_ptr<AudioPlayer> player_; // lives and dies on the GUI thread
    bool playing_ = false;
};

// Opens sinks on the system's default audio output as it is at the time of create(). Construct and
// destroy it on the GUI thread; create() is safe from any thread. mutex_ guards device_.
class QtAudioSinkFactory final : public AudioSinkFactory {
public:
    QtAudioSinkFactory();
    ~QtAudioSinkFactory() override;
    QtAudioSinkFactory(const QtAudioSinkFactory&) = delete;
    QtAudioSinkFactory& operator=(const QtAudioSinkFactory&) = delete;

    std::unique_ptr<AudioSink> create() override;

private:
    void readDefaultDevice(); // GUI thread

    QObject context_;
    std::shared_ptr<GuiGate> gate_;
    std::unique_ptr<QMediaDevices> devices_;
    mutable std::mutex mutex_;
    QAudioDevice device_;
};

} // namespace tavoro::platform::qt
