#include "programs/tavoro-cli/input_replay.h"

#include "programs/tavoro-cli/input_script.h"

#include <boost/asio/read_until.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

namespace tavoro::cli {

InputReplay::InputReplay(boost::asio::io_context& context, std::function<void(nlohmann::json)> send)
    : context_(context), send_(std::move(send)), pause_(context)
{
}

Result<> InputReplay::open(const std::string& source)
{
    const int fd = source == "-" ? ::dup(STDIN_FILENO) : ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Failure{"cannot read " + source};
    }
    boost::system::error_code error;
    stream_.emplace(context_);
    stream_->assign(fd, error);
    if (!error) {
        readMore();
        return {};
    }
    // A regular file cannot be waited on; it is read at once instead.
    stream_.reset();
    std::ifstream file("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    if (!file) {
        return Failure{"cannot read " + source};
    }
    for (std::string line; std::getline(file, line);) {
        lines_.push_back(line);
    }
    return {};
}

void InputReplay::readMore()
{
    boost::asio::async_read_until(*stream_, buffer_, '\n', [this](boost::system::error_code error, std::size_t) {
        if (stopped_) {
            return;
        }
        takeLines(error.failed());
        if (!error) {
            readMore();
        }
    });
}

void InputReplay::takeLines(bool endOfInput)
{
    std::istream in(&buffer_);
    std::string line;
    while (buffer_.size() > 0) {
        const std::string_view pending(static_cast<const char*>(buffer_.data().data()), buffer_.size());
        if (pending.find('\n') == std::string_view::npos && !endOfInput) {
            break;
        }
        std::getline(in, line);
        lines_.push_back(line);
    }
    runSteps();
}

void InputReplay::start()
{
    started_ = true;
    runSteps();
}

void InputReplay::stop()
{
    stopped_ = true;
    pause_.cancel();
    if (stream_) {
        stream_->cancel();
    }
}

void InputReplay::runSteps()
{
    while (started_ && !pausing_ && !stopped_ && !lines_.empty()) {
        const std::string line = std::move(lines_.front());
        lines_.pop_front();
        ++lineNumber_;
        auto step = parseScriptLine(line);
        switch (step.kind) {
        case ScriptLine::Kind::blank: break;
        case ScriptLine::Kind::invalid:
            std::cerr << "tavoro-cli: input line " << lineNumber_ << " skipped: " << step.error << "\n";
            break;
        case ScriptLine::Kind::event: send_(std::move(step.fields)); break;
        case ScriptLine::Kind::pause:
            pausing_ = true;
            pause_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(step.seconds)));
            pause_.async_wait([this](boost::system::error_code error) {
                pausing_ = false;
                if (!error) {
                    runSteps();
                }
            });
            break;
        }
    }
}

} // namespace tavoro::cli
