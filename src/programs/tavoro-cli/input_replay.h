#pragma once

#include "core/result.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>

#include <nlohmann/json.hpp>

#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace tavoro::cli {

// Replays an input script (see input_script.h) on the main io_context: lines are read as they come
// (a pipe or terminal without blocking the loop, a regular file at once), each event is handed to
// `send`, and each pause holds the following lines back. Bad lines are reported on stderr and skipped.
// Main thread only.
class InputReplay {
public:
    InputReplay(boost::asio::io_context& context, std::function<void(nlohmann::json fields)> send);

    // Opens the file, or standard input for "-"; fails when it cannot be read.
    Result<> open(const std::string& source);
    // Events are sent from now on.
    void start();
    void stop();

private:
    void readMore();
    void takeLines(bool endOfInput);
    void runSteps();

    boost::asio::io_context& context_;
    std::function<void(nlohmann::json)> send_;
    std::optional<boost::asio::posix::stream_descriptor> stream_;
    boost::asio::streambuf buffer_;
    boost::asio::steady_timer pause_;
    std::deque<std::string> lines_;
    int lineNumber_ = 0;
    bool started_ = false;
    bool pausing_ = false;
    bool stopped_ = false;
};

} // namespace tavoro::cli
