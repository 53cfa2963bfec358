#pragma once

#include "core/main_queue.h"
#include "platform/qt/gui_gate.h"

#include <QObject>

#include <memory>
#include <thread>

namespace tavoro::platform::qt {

// The main queue of the desktop application: Qt's GUI thread. Construct and destroy it on the GUI
// thread, after the QApplication exists and before it goes; tasks posted after destruction are dropped.
// Any thread may call isMainThread() and post().
class QtMainQueue final : public core::MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }
    void post(std::function<void()> task) override { gate_.post(std::move(task)); }

private:
    QObject context_;
    GuiGate gate_{context_};
    std::thread::id mainThread_;
};

} // namespace tavoro::platform::qt
