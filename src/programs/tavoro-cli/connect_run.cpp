#include "programs/tavoro-cli/connect_run.h"

#include <boost/asio/post.hpp>

#include <iostream>

namespace tavoro::cli {
namespace {

constexpr double kAnswerSeconds = 15;
constexpr double kPictureSeconds = 10;
constexpr double kReconnectSeconds = 30;
const std::string kRefusedPrefix = "对方拒绝: ";

} // namespace

// Tells the main thread about the first decoded picture; counts nothing else.
class ConnectRun::FirstPictureSink final : public platform::DisplaySink {
public:
    FirstPictureSink(boost::asio::io_context& context, ConnectRun& run, std::shared_ptr<std::atomic<bool>> alive)
        : context_(context), run_(run), alive_(std::move(alive))
    {
    }
    void present(const platform::DecodedPicture&) override
    {
        if (!told_.exchange(true)) {
            boost::asio::post(context_, [this, alive = alive_] {
                if (*alive) {
                    run_.firstPicture();
                }
            });
        }
    }
    void flush() override {}
    void clear() override {}

private:
    boost::asio::io_context& context_;
    ConnectRun& run_;
    std::shared_ptr<std::atomic<bool>> alive_;
    std::atomic<bool> told_{false};
};

ConnectRun::ConnectRun(boost::asio::io_context& context, app::RemoteController& controller, ConnectOptions options,
    std::ostream& out)
    : context_(context),
      controller_(controller),
      options_(std::move(options)),
      out_(out),
      input_(context, [this](nlohmann::json fields) {
          if (session_) {
              session_->sendInput(std::move(fields));
          }
      }),
      answerTimer_(context),
      pictureTimer_(context),
      screenshotTimer_(context),
      endTimer_(context),
      reconnectTimer_(context)
{
}

ConnectRun::~ConnectRun() { *alive_ = false; }

Result<> ConnectRun::prepare()
{
    if (!options_.input) {
        return {};
    }
    return input_.open(*options_.input);
}

void ConnectRun::after(boost::asio::steady_timer& timer, double seconds, std::function<void()> step)
{
    timer.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds)));
    timer.async_wait([this, step = std::move(step)](boost::system::error_code error) {
        if (!error && !exitCode_) {
            step();
        }
    });
}

void ConnectRun::start()
{
    statusSubscription_ = controller_.status.subscribe([this](const std::string& s) { statusChanged(s); });
    controlSubscription_ = controller_.control.subscribe(
        [this](const std::shared_ptr<control::ControlSession>& s) { sessionChanged(s); });
    onlineSubscription_ = controller_.online.subscribe([this](bool online) {
        if (online && !called_) {
            called_ = true;
            controller_.connectToPeer(options_.target, options_.password, options_.mode);
        }
    });
    after(answerTimer_, kAnswerSeconds, [this] {
        std::cerr << "tavoro-cli: 没有应答（" << kAnswerSeconds << " 秒）\n";
        finish(kNoAnswer);
    });
}

// Only the call's own lines: the installation's idle texts (its own ID and password) are not this
// program's business.
void ConnectRun::statusChanged(const std::string& status)
{
    if (!called_) {
        return;
    }
    out_ << status << std::endl;
    if (!session_ && status.starts_with(kRefusedPrefix)) {
        finish(hadSession_ ? kSessionLost : kRefused);
    }
}

void ConnectRun::sessionChanged(const std::shared_ptr<control::ControlSession>& session)
{
    if (session && !session_) {
        sessionStarted(session);
    } else if (!session && session_ && !exitCode_) {
        sessionLost();
    }
}

void ConnectRun::sessionLost()
{
    if (session_->isRecording.get()) {
        out_ << session_->toggleRecording() << std::endl;
    }
    session_ = nullptr;
    statsSubscription_.reset();
    if (!controller_.redialPending()) {
        std::cerr << "tavoro-cli: 会话已断开\n";
        finish(kSessionLost);
        return;
    }
    after(reconnectTimer_, kReconnectSeconds, [this] {
        std::cerr << "tavoro-cli: 会话已断开（" << kReconnectSeconds << " 秒内未能重连）\n";
        finish(kSessionLost);
    });
}

void ConnectRun::sessionStarted(const std::shared_ptr<control::ControlSession>& session)
{
    session_ = session;
    answerTimer_.cancel();
    reconnectTimer_.cancel();
    session_->video().attach(std::make_shared<FirstPictureSink>(context_, *this, alive_));
    if (options_.stats) {
        // The round trip is published last of each second's figures.
        statsSubscription_ = session_->rttMs.subscribe([this](int) { out_ << session_->statusLine() << std::endl; });
    }
    if (std::exchange(hadSession_, true)) {
        return; // resumed after the server connection came back
    }
    if (options_.record) {
        out_ << session_->startRecordingAt(*options_.record) << std::endl;
    }
    if (options_.awaitPicture) {
        after(pictureTimer_, kPictureSeconds, [this] {
            std::cerr << "tavoro-cli: " << kPictureSeconds << " 秒内没有收到画面\n";
            finish(kNoAnswer);
        });
    }
    if (options_.seconds) {
        after(endTimer_, *options_.seconds, [this] { finish(kSessionEnded); });
    }
    input_.start();
}

void ConnectRun::firstPicture()
{
    if (sawPicture_ || exitCode_) {
        return;
    }
    sawPicture_ = true;
    pictureTimer_.cancel();
    if (options_.screenshot) {
        after(screenshotTimer_, options_.screenshotAfter, [this] { takeScreenshot(); });
    }
}

void ConnectRun::takeScreenshot()
{
    if (session_ && !tookScreenshot_) {
        tookScreenshot_ = true;
        out_ << session_->screenshot(std::filesystem::path(*options_.screenshot)) << std::endl;
    }
}

void ConnectRun::interrupt() { finish(hadSession_ ? kSessionEnded : kNoAnswer); }

// Ends the run: a screenshot still owed is taken, the recording is closed, the host told "bye" when the
// session still runs, and the queued messages are written before the loop stops.
void ConnectRun::finish(int code)
{
    if (exitCode_) {
        return;
    }
    exitCode_ = code;
    for (auto* timer : {&answerTimer_, &pictureTimer_, &screenshotTimer_, &endTimer_, &reconnectTimer_}) {
        timer->cancel();
    }
    input_.stop();
    // A run that ends before the screenshot's time still leaves one: of the last picture, or the reason
    // there is none.
    if (options_.screenshot) {
        takeScreenshot();
    }
    if (session_ && session_->isRecording.get()) {
        out_ << session_->toggleRecording() << std::endl;
    }
    controlSubscription_.reset();
    statusSubscription_.reset();
    statsSubscription_.reset();
    if (session_ && !session_->closed()) {
        controller_.endControl();
    }
    controller_.signaling().shutdown(std::chrono::seconds(2));
    context_.stop();
}

} // namespace tavoro::cli
