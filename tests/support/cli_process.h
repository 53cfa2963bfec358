#pragma once

#include "support/child_process.h"
#include "support/hosting_fixture.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::test {

struct Run {
    std::optional<int> exitCode;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

// tavoro-cli (the binary at TAVORO_CLI_BIN) pointed at the setup's server, with an installation of its own.
class Cli {
public:
    explicit Cli(HostingSetup& setup)
        : server_{"--server", "127.0.0.1:" + std::to_string(setup.server.wss), "--server-cert-sha256",
              setup.server.fingerprint, "--stun", "127.0.0.1:" + std::to_string(setup.server.stun), "--config-dir",
              config_.path().string()}
    {
    }

    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& args)
    {
        auto all = server_;
        all.insert(all.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(TAVORO_CLI_BIN, all,
            std::vector<std::string>{"HOME=" + home_.path().string(), "XDG_CONFIG_HOME=" + (home_.path() / ".config").string()});
    }

    Run run(const std::vector<std::string>& args, std::chrono::seconds limit = std::chrono::seconds(25))
    {
        return ended(*start(args), limit);
    }

    static Run ended(ChildProcess& cli, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        Run result;
        result.exitCode = cli.waitExit(limit);
        result.out = cli.stdoutLines();
        result.err = cli.stderrLines();
        return result;
    }

    std::filesystem::path file(const std::string& name) const { return files_.path() / name; }
    const std::filesystem::path& home() const { return home_.path(); }

    // An input script of the given lines.
    std::string script(const std::vector<std::string>& lines) const
    {
        const auto path = file("input.jsonl");
        std::ofstream out(path);
        for (const auto& line : lines) {
            out << line << "\n";
        }
        return path.string();
    }

private:
    TempDir config_;
    TempDir files_;
    TempDir home_;
    std::vector<std::string> server_;
};

inline bool printed(const Run& run, const std::string& line)
{
    return std::find(run.out.begin(), run.out.end(), line) != run.out.end();
}

inline std::string describe(const Run& run)
{
    std::string text = "exit " + (run.exitCode ? std::to_string(*run.exitCode) : std::string("none")) + "\nstdout:\n";
    for (const auto& line : run.out) {
        text += "  " + line + "\n";
    }
    text += "stderr:\n";
    for (const auto& line : run.err) {
        text += "  " + line + "\n";
    }
    return text;
}

} // namespace tavoro::test
