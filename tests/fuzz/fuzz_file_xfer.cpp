// Transfer messages of any shape, one JSON object per line, reach the receiving side without harm: no
// crash, and once every transfer is abandoned no temporary file is left and nothing lies outside the
// destination folder.
#include "core/json_fields.h"
#include "files/file_transfer_manager.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/manual_main_queue.h"
#include "platform/fake/manual_serial_queue.h"
#include "support/fake_transfer_channel.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The folder the received files go to, removed when the fuzzer exits.
struct Root {
    Root() { fs::create_directories(path / "Downloads"); }
    ~Root()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    const fs::path path = fs::temp_directory_path() / ("tavoro-fuzz-xfer-" + std::to_string(::getpid()));
};

const fs::path& root()
{
    static const Root made;
    return made.path;
}

void checkLeftovers()
{
    for (const auto& entry : fs::recursive_directory_iterator(root())) {
        const auto relative = entry.path().lexically_relative(root());
        if (*relative.begin() != "Downloads" || entry.path().extension() == ".tavoro-tmp") {
            std::abort();
        }
    }
    for (const auto& entry : fs::directory_iterator(root() / "Downloads")) {
        fs::remove_all(entry.path());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavoro;
    auto clock = std::make_shared<platform::fake::ManualClock>();
    platform::fake::ManualScheduler scheduler(*clock);
    platform::fake::ManualSerialQueue worker;
    platform::fake::ManualMainQueue main;
    test::FakeTransferChannel channel;
    platform::fake::FixedUserFolders folders;
    folders.downloadsPath = root() / "Downloads";
    {
        files::FileTransferManager manager(channel, worker, main, scheduler, clock, folders,
            [](const std::string& from) { return from == "peer"; });
        manager.setDestinationPolicy([](const std::string&, const std::string&) { return root() / "Downloads"; });
        std::string_view text(reinterpret_cast<const char*>(data), size);
        while (!text.empty()) {
            const auto end = text.find('\n');
            const auto line = text.substr(0, end);
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
            if (auto message = json::parse(line); message && message->is_object()) {
                manager.handleMessage(json::stringField(*message, "type"), *message);
            }
            scheduler.advance(std::chrono::seconds(1));
        }
        manager.abandonAll();
        main.drain();
    }
    checkLeftovers();
    return 0;
}
