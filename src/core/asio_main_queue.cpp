#include "core/asio_main_queue.h"

#include <boost/asio/post.hpp>

namespace tavoro::core {

void AsioMainQueue::post(std::function<void()> task) { boost::asio::post(context_, std::move(task)); }

} // namespace tavoro::core
