// tavoro-cli working on a real tavoro-host's files through a real tavoro-rendezvous: listing, sending
// and fetching with checks of every byte, folders made and removed, strangers refused, and a fetch
// whose sender dies.
#include "files/sha256.h"
#include "support/cli_process.h"
#include "support/hosting_fixture.h"
#include "support/wait.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

std::string contentsOf(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string sha256Of(const std::string& bytes)
{
    files::Sha256 digest;
    digest.update({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return digest.hexDigest();
}

void writeRandomFile(const std::filesystem::path& path, std::size_t size)
{
    std::mt19937_64 random(size);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

// The name part of each listing line, in order.
std::vector<std::string> listedNames(const Run& run)
{
    std::vector<std::string> names;
    for (const auto& line : run.out) {
        names.push_back(line.substr(line.rfind("  ") + 2));
    }
    return names;
}

class CliFiles : public ::testing::Test {
protected:
    HostingSetup setup{TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 320, 240};
    Cli cli{setup};
    std::filesystem::path hostHome = setup.home.path();

    std::vector<std::string> withPassword(std::vector<std::string> args)
    {
        args.insert(args.begin() + 2, {"--password", setup.password});
        return args;
    }
};

TEST_F(CliFiles, ListSendFetchMakeAndRemove)
{
    ASSERT_TRUE(setup.ready());
    const auto share = hostHome / "share";
    std::filesystem::create_directories(share / "Zeta");
    std::filesystem::create_directory_symlink(share / "Zeta", share / "link");
    for (const auto* name : {"b.txt", "A.txt", ".hidden", "中文.txt"}) {
        std::ofstream(share / name) << name;
    }
    const auto ls = cli.run(withPassword({"ls", setup.hostId, share.string()}));
    ASSERT_EQ(ls.exitCode, 0) << describe(ls);
    EXPECT_EQ(listedNames(ls), (std::vector<std::string>{"link/", "Zeta/", "A.txt", "b.txt", "中文.txt"})) << describe(ls);

    const auto original = cli.file("random.bin");
    writeRandomFile(original, 20 << 20);
    const auto put = cli.run(withPassword({"put", setup.hostId, original.string(), share.string()}), 60s);
    ASSERT_EQ(put.exitCode, 0) << describe(put);
    EXPECT_EQ(contentsOf(share / "random.bin"), contentsOf(original)) << "the host's copy differs";

    std::filesystem::create_directory(cli.file("fetched"));
    const auto get = cli.run(withPassword({"get", setup.hostId, (share / "random.bin").string(), cli.file("fetched")}), 60s);
    ASSERT_EQ(get.exitCode, 0) << describe(get);
    const auto fetched = contentsOf(cli.file("fetched") / "random.bin");
    EXPECT_EQ(sha256Of(fetched), sha256Of(contentsOf(original)));
    EXPECT_TRUE(printed(get, "SHA-256 " + sha256Of(fetched))) << describe(get);

    const auto made = cli.run(withPassword({"mkdir", setup.hostId, (share / "新建").string()}));
    ASSERT_EQ(made.exitCode, 0) << describe(made);
    EXPECT_TRUE(std::filesystem::is_directory(share / "新建"));
    const auto removed = cli.run(withPassword({"rm", setup.hostId, "-y", (share / "新建").string(), (share / "Zeta").string()}));
    ASSERT_EQ(removed.exitCode, 0) << describe(removed);
    EXPECT_FALSE(std::filesystem::exists(share / "新建"));
    EXPECT_FALSE(std::filesystem::exists(share / "Zeta"));
    const auto unconfirmed = cli.run(withPassword({"rm", setup.hostId, (share / "A.txt").string()}));
    EXPECT_EQ(unconfirmed.exitCode, 6) << "no answer on standard input is no: " << describe(unconfirmed);
    EXPECT_TRUE(std::filesystem::exists(share / "A.txt"));
}

// An installation that is not in a session with the host may not read, delete or write its files, even
// while someone else's session runs.
TEST_F(CliFiles, AStrangerGetsNothingAndChangesNothing)
{
    ASSERT_TRUE(setup.ready());
    auto session = cli.start({"connect", setup.hostId, "--password", setup.password, "--mode", "file"});
    ASSERT_FALSE(session->waitForStdout("控制中 · ").empty()) << describe(Cli::ended(*session, 0ms));
    const auto keep = hostHome / "keep.txt";
    std::ofstream(keep) << "keep";

    auto stranger = WssTestClient::connect(setup.clients, static_cast<std::uint16_t>(setup.server.wss));
    ASSERT_TRUE(stranger && stranger->hello("555555555"));
    const std::string to = setup.hostId;
    stranger->sendJson({{"type", "fs_list"}, {"to", to}, {"call_id", ""}, {"path", hostHome.string()}, {"req_id", ""}});
    stranger->sendJson({{"type", "fs_delete"}, {"to", to}, {"call_id", ""}, {"paths", {keep.string()}}});
    stranger->sendJson({{"type", "file_xfer_start"}, {"to", to}, {"call_id", ""}, {"xfer_id", 7}, {"name", "../evil"},
        {"size", 4}, {"chunk", 65536}, {"dest_dir", hostHome.string()}, {"p2p", false}});
    stranger->sendJson({{"type", "file_xfer_chunk"}, {"to", to}, {"call_id", ""}, {"xfer_id", 7}, {"offset", 0},
        {"data_b64", "ZXZpbA=="}});
    stranger->sendJson({{"type", "file_xfer_done"}, {"to", to}, {"call_id", ""}, {"xfer_id", 7}, {"ok", true}, {"sent", 4}});

    EXPECT_FALSE(stranger->nextOfType("fs_list_resp", 2s)) << "a listing was sent to a stranger";
    EXPECT_EQ(contentsOf(keep), "keep");
    // "../evil" would land beside the home folder, among other tests' folders that come and go meanwhile:
    // only the home folder is searched in depth.
    for (const auto& entry : std::filesystem::directory_iterator(hostHome.parent_path())) {
        EXPECT_EQ(entry.path().filename().string().find("evil"), std::string::npos) << entry.path();
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(hostHome)) {
        EXPECT_EQ(entry.path().filename().string().find("evil"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(setup.host->stderrCount("555555555"), 2u) << "one line for each refusing service";
}

TEST_F(CliFiles, AFetchWhoseSenderDiesEndsInterruptedAndLeavesTheLocalFileAlone)
{
    ASSERT_TRUE(setup.ready());
    writeRandomFile(hostHome / "big.bin", 64 << 20);
    std::ofstream(cli.file("big.bin")) << "what was here";
    auto get = cli.start(withPassword({"get", setup.hostId, (hostHome / "big.bin").string(), cli.file("").string()}));
    const auto partial = [&] {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(cli.file(""), ec)) {
            if (entry.path().filename().string().starts_with(".big.bin") && entry.file_size(ec) > (1 << 20)) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor(partial, 20s)) << describe(Cli::ended(*get, 0ms));
    ASSERT_TRUE(setup.host->stop(SIGKILL));
    const auto ended = Cli::ended(*get, 40s);
    EXPECT_EQ(ended.exitCode, 6) << describe(ended);
    EXPECT_NE(std::find_if(ended.err.begin(), ended.err.end(),
                  [](const std::string& line) { return line.find("中断") != std::string::npos; }),
        ended.err.end())
        << describe(ended);
    EXPECT_EQ(contentsOf(cli.file("big.bin")), "what was here");
    EXPECT_TRUE(std::filesystem::exists(cli.file("big.bin.part"))) << "what arrived is kept aside";
}

} // namespace
} // namespace tavoro::test
