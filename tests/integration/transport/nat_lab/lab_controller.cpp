// lab_controller: a scripted controller in one network namespace of the NAT lab. It calls a host
// through tavoro-rendezvous, runs for a fixed time and prints, as they happen, one line per event
// (times in ms since the Unix epoch, so that the lab script can set them against its own and the
// host's log times):
//   lab call sent at=MS
//   lab call answer ANSWER at=MS        ANSWER is "accepted" or the refusal reason
//   lab picture at=MS path=udp|server key=0|1 size=WxH
//   lab result udp=N server=M           the decoded pictures per path
#include "core/event_loop.h"
#include "core/log.h"
#include "support/scripted_controller.h"
#include "transport/stun_servers.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>

namespace {

using namespace tavoro;
using Clock = std::chrono::steady_clock;

long long epochMs(Clock::time_point at)
{
    const auto sinceThen = Clock::now() - at;
    const auto wall = std::chrono::system_clock::now() - sinceThen;
    return std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
}

struct Options {
    std::string server;
    std::vector<std::string> stun;
    std::string deviceId = "100000001";
    std::string target;
    std::string password;
    int runMs = 10000;
};

struct PictureCounts {
    int udp = 0;
    int server = 0;
};

PictureCounts reportPictures(test::ScriptedController& controller, Clock::time_point until)
{
    PictureCounts counts;
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        const auto picture = controller.nextPicture(left);
        if (!picture) {
            continue;
        }
        ++(picture->overUdp ? counts.udp : counts.server);
        std::printf("lab picture at=%lld path=%s key=%d size=%dx%d\n", epochMs(picture->at),
            picture->overUdp ? "udp" : "server", picture->keyframe ? 1 : 0, picture->width, picture->height);
    }
    return counts;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App cli("NAT lab controller: calls a host and reports the pictures it decodes", "lab_controller");
    cli.add_option("--server", options.server, "tavoro-rendezvous IPV4:PORT")->required();
    cli.add_option("--stun", options.stun, "STUN server HOST:PORT (repeatable)")->required();
    cli.add_option("--device-id", options.deviceId, "this controller's nine-digit ID")->capture_default_str();
    cli.add_option("--call", options.target, "the host's ID")->required();
    cli.add_option("--password", options.password, "the host's password")->required();
    cli.add_option("--run-ms", options.runMs, "how long to watch after the call")->capture_default_str();
    CLI11_PARSE(cli, argc, argv);

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    log::setup("lab_controller", false);
    const auto server = transport::parseStunServer(options.server);
    const auto stun = transport::chooseStunServers(options.stun, nullptr);
    if (!server || !stun.invalidEntry.empty()) {
        std::fprintf(stderr, "lab_controller: bad --server or --stun\n");
        return 2;
    }
    core::EventLoopThread loop("lab.client");
    auto controller = test::ScriptedController::connect(loop, {server->port, options.deviceId, stun.servers, server->host});
    if (!controller) {
        std::fprintf(stderr, "lab_controller: cannot reach the server at %s\n", options.server.c_str());
        return 1;
    }
    std::printf("lab call sent at=%lld\n", epochMs(Clock::now()));
    const auto answer = controller->call(options.target, options.password);
    std::printf("lab call answer %s at=%lld\n", answer.value_or("none").c_str(), epochMs(Clock::now()));
    if (answer != "accepted") {
        return 1;
    }
    const auto counts = reportPictures(*controller, Clock::now() + std::chrono::milliseconds(options.runMs));
    controller->bye();
    std::printf("lab result udp=%d server=%d\n", counts.udp, counts.server);
    return 0;
}
