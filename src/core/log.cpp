#include "core/log.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/sinks/syslog_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <syslog.h>

namespace tavoro::log {

namespace {

// The captures alive at the moment; the logging facility is process-wide by nature.
struct CaptureRegistry {
    std::mutex mutex; // guards sinks
    std::vector<Capture::Sink*> sinks;
};

CaptureRegistry& captureRegistry()
{
    static CaptureRegistry registry;
    return registry;
}

void forwardToCaptures(std::string_view line);

} // namespace

void info(std::string_view line)
{
    spdlog::info("{}", line);
    forwardToCaptures(line);
}

void warn(std::string_view line)
{
    spdlog::warn("{}", line);
    forwardToCaptures(line);
}

void debug(std::string_view line) { spdlog::debug("{}", line); }

void setup(const std::string& programName, bool toSystemLog, bool verbose)
{
    std::vector<spdlog::sink_ptr> sinks;
    auto console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    console->set_pattern("%H:%M:%S.%e %v");
    sinks.push_back(console);
    if (toSystemLog) {
        auto system = std::make_shared<spdlog::sinks::syslog_sink_mt>(programName, LOG_PID, LOG_USER, false);
        system->set_pattern("%v");
        sinks.push_back(system);
    }
    auto logger = std::make_shared<spdlog::logger>(programName, sinks.begin(), sinks.end());
    logger->set_level(verbose ? spdlog::level::debug : spdlog::level::info);
    logger->flush_on(spdlog::level::info);
    spdlog::set_default_logger(logger);
}

struct Capture::Sink {
    mutable std::mutex mutex; // guards lines
    std::vector<std::string> lines;
};

namespace {

void forwardToCaptures(std::string_view line)
{
    auto& registry = captureRegistry();
    std::lock_guard lock(registry.mutex);
    for (auto* sink : registry.sinks) {
        std::lock_guard sinkLock(sink->mutex);
        sink->lines.emplace_back(line);
    }
}

} // namespace

Capture::Capture() : sink_(std::make_shared<Sink>())
{
    auto& registry = captureRegistry();
    std::lock_guard lock(registry.mutex);
    registry.sinks.push_back(sink_.get());
}

Capture::~Capture()
{
    auto& registry = captureRegistry();
    std::lock_guard lock(registry.mutex);
    std::erase(registry.sinks, sink_.get());
}

std::vector<std::string> Capture::lines() const
{
    std::lock_guard lock(sink_->mutex);
    return sink_->lines;
}

bool Capture::contains(std::string_view fragment) const { return count(fragment) > 0; }

std::size_t Capture::count(std::string_view fragment) const
{
    std::lock_guard lock(sink_->mutex);
    return static_cast<std::size_t>(std::count_if(sink_->lines.begin(), sink_->lines.end(),
        [&](const std::string& line) { return line.find(fragment) != std::string::npos; }));
}

} // namespace tavoro::log
