#pragma once

#include "app/remote_controller.h"
#include "programs/tavoro-cli/connect_options.h"
#include "programs/tavoro-cli/input_replay.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <iosfwd>
#include <memory>
#include <optional>

namespace tavoro::cli {

// How "tavoro-cli connect" ends.
enum ExitCode : int { kSessionEnded = 0, kBadUsage = 2, kRefused = 3, kNoAnswer = 4, kSessionLost = 5, kNotDone = 6 };

// One "connect" run on the main io_context: calls the target once the installation is online, holds
// the session for the asked time, records, takes the screenshot (when the run ends at the latest),
// replays input, prints the status lines, and ends with an exit code. A session lost with the server
// connection is waited for while the call is placed again (the recording is not resumed). Main thread only.
class ConnectRun {
public:
    ConnectRun(boost::asio::io_context& context, app::RemoteController& controller, ConnectOptions options,
        std::ostream& out);
    ~ConnectRun();

    // Opens the input script; fails when it cannot be read.
    Result<> prepare();
    void start();
    // Ctrl-C: the session ends with "bye" as when the time is up.
    void interrupt();
    // Ends the run with the code (once; later calls do nothing).
    void finish(int code);
    // Set once the run is over; the io_context is stopped then.
    std::optional<int> exitCode() const { return exitCode_; }

private:
    class FirstPictureSink;

    void statusChanged(const std::string& status);
    void sessionChanged(const std::shared_ptr<control::ControlSession>& session);
    void sessionStarted(const std::shared_ptr<control::ControlSession>& session);
    void sessionLost();
    void firstPicture();
    void takeScreenshot();
    void after(boost::asio::steady_timer& timer, double seconds, std::function<void()> step);

    boost::asio::io_context& context_;
    app::RemoteController& controller_;
    ConnectOptions options_;
    std::ostream& out_;
    InputReplay input_;
    std::shared_ptr<control::ControlSession> session_;
    bool called_ = false;
    bool hadSession_ = false;
    bool sawPicture_ = false;
    bool tookScreenshot_ = false;
    std::optional<int> exitCode_;
    core::Observable<std::string>::Subscription statusSubscription_;
    core::Observable<bool>::Subscription onlineSubscription_;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription controlSubscription_;
    core::Observable<int>::Subscription statsSubscription_;
    boost::asio::steady_timer answerTimer_;
    boost::asio::steady_timer pictureTimer_;
    boost::asio::steady_timer screenshotTimer_;
    boost::asio::steady_timer endTimer_;
    boost::asio::steady_timer reconnectTimer_; // a session lost with the server connection, until it is back
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

} // namespace tavoro::cli
