#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tavoro::log {

// Every line carries its component prefix in the text itself ("Tavoro: ", "Tavoro p2p: ", ...).
// Safe from any thread.
void info(std::string_view line);
void warn(std::string_view line);
void debug(std::string_view line);

// Sends the log to stderr and, when asked, to the system log under the program's name.
// Called once by each program's main before any other thread starts.
void setup(const std::string& programName, bool toSystemLog, bool verbose = false);

// Collects the lines logged while it lives, for tests that check a fixed log text.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;
    std::size_t count(std::string_view fragment) const;

    struct Sink;

private:
    std::shared_ptr<Sink> sink_;
};

} // namespace tavoro::log
