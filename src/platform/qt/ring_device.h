#pragma once

#include "platform/qt/sample_ring.h"

#include <QIODevice>

#include <memory>

namespace tavoro::platform::qt {

// The read side of a SampleRing as the sequential device a QAudioSink pulls from: whole float frames,
// nothing when the ring is empty. Read on the audio sink's thread.
class RingDevice final : public QIODevice {
public:
    explicit RingDevice(std::shared_ptr<SampleRing> ring);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::shared_ptr<SampleRing> ring_;
};

} // namespace tavoro::platform::qt
