#include "platform/qt/qt_main_queue.h"

namespace tavoro::platform::qt {

QtMainQueue::QtMainQueue() : mainThread_(std::this_thread::get_id()) {}

QtMainQueue::~QtMainQueue() { gate_.close(); }

} // namespace tavoro::platform::qt
