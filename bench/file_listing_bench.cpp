// What a peer's "fs_list" of a large directory costs on the serving side: reading 10,000 entries,
// sorting them with the locale-aware collator and building the reply that fits one message. Target:
// at most 150 ms for the whole answer.
#include "files/directory_listing.h"
#include "files/listing_reply.h"
#include "files/name_collator.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <fstream>

namespace {

using namespace tavoro;

// Mixed names: Latin with case and digits, Chinese, and a directory every tenth entry.
void fillDirectory(const std::filesystem::path& dir, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string name = (i % 3 == 0 ? "Report " : i % 3 == 1 ? "photo_" : "文档") + std::to_string(i * 7919 % count);
        if (i % 10 == 0) {
            std::filesystem::create_directory(dir / name);
        } else {
            std::ofstream(dir / (name + ".txt")) << i;
        }
    }
}

void BM_ListLargeDirectory(benchmark::State& state)
{
    test::TempDir dir;
    fillDirectory(dir.path(), static_cast<int>(state.range(0)));
    const files::NameCollator collator;
    const files::ListingRequest request{"123456789", "call-1", dir.path().string()};
    std::size_t sent = 0;
    for (auto _ : state) {
        auto entries = files::readDirectory(dir.path().string());
        files::sortListing(entries, collator);
        auto reply = files::buildListingReply(request, entries, 900'000);
        sent = reply.sent;
        benchmark::DoNotOptimize(reply.payload);
    }
    state.counters["entries_sent"] = static_cast<double>(sent);
}
BENCHMARK(BM_ListLargeDirectory)->Arg(10'000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
