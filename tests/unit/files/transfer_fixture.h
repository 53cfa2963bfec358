#pragma once

#include "files/file_transfer_manager.h"
#include "files/sha256.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/manual_main_queue.h"
#include "platform/fake/manual_serial_queue.h"
#include "support/fake_transfer_channel.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tavoro::files::test_support {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A sending side ("host-a") and a receiving side that accepts files only from "host-a", on manual
// queues and a manual clock, with folders in a fresh temporary directory.
class TransferFixture : public ::testing::Test {
protected:
    TransferFixture()
    {
        folders.downloadsPath = dir.path() / "Downloads";
        folders.temporaryPath = dir.path() / "tmp";
        fs::create_directories(folders.downloadsPath);
        fs::create_directories(dir.path() / "src");
    }

    static std::string patterned(std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
        }
        return bytes;
    }
    static std::string sha256Of(const std::string& bytes)
    {
        Sha256 sha;
        sha.update(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        return sha.hexDigest();
    }
    static void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    static std::string readFile(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path source(const std::string& name, const std::string& bytes) const
    {
        auto path = dir.path() / "src" / name;
        writeFile(path, bytes);
        return path;
    }
    fs::path downloads(const std::string& name) const { return folders.downloadsPath / name; }

    // Runs the sending side, 2 ms at a time, until none of its jobs is waiting or transferring.
    void runSender(int maxSteps = 100'000)
    {
        for (int i = 0; i < maxSteps; ++i) {
            worker.drain();
            main.drain();
            if (sendingSettled()) {
                return;
            }
            scheduler.advance(2ms);
        }
        ADD_FAILURE() << "the sender never settled";
    }
    // Moves the manual clock forward in steps, running the worker and the main queue as it goes.
    void advance(std::chrono::milliseconds by, std::chrono::milliseconds step = 1ms)
    {
        for (auto passed = 0ms; passed < by; passed += step) {
            worker.drain();
            main.drain();
            scheduler.advance(step);
        }
        worker.drain();
        main.drain();
    }
    bool sendingSettled()
    {
        for (const auto& job : sender.jobs().get()) {
            const auto status = job->status.get();
            if (status == kStatusWaiting || status == kStatusTransferring) {
                return false;
            }
        }
        return true;
    }
    // Hands messages to the receiving side as coming from `from`.
    void deliver(const std::vector<nlohmann::json>& messages, const std::string& from = "host-a")
    {
        for (auto message : messages) {
            message["from"] = from;
            receiver.handleMessage(message["type"], message);
        }
        main.drain();
    }
    static std::shared_ptr<TransferJob> jobOf(FileTransferManager& manager, std::int64_t id)
    {
        for (const auto& job : manager.jobs().get()) {
            if (job->id == id) {
                return job;
            }
        }
        return nullptr;
    }
    std::string statusOf(FileTransferManager& manager, std::int64_t id)
    {
        main.drain();
        auto job = jobOf(manager, id);
        return job ? job->status.get() : "(none)";
    }

    tavoro::test::TempDir dir;
    platform::fake::FixedUserFolders folders;
    std::shared_ptr<platform::fake::ManualClock> clock = std::make_shared<platform::fake::ManualClock>();
    platform::fake::ManualScheduler scheduler{*clock};
    platform::fake::ManualSerialQueue worker;
    platform::fake::ManualMainQueue main;
    tavoro::test::FakeTransferChannel channel;
    tavoro::test::FakeTransferChannel receiverChannel;
    std::int64_t nextId = 1000;
    FileTransferManager sender{channel, worker, main, scheduler, clock, folders,
        [](const std::string&) { return true; }, [this] { return nextId++; }};
    FileTransferManager receiver{receiverChannel, worker, main, scheduler, clock, folders,
        [](const std::string& from) { return from == "host-a" || from == "host-b"; }};
};

} // namespace tavoro::files::test_support
