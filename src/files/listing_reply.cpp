#include "files/listing_reply.h"

namespace tavoro::files {
namespace {

// Room for what the sender adds: ,"type":"fs_list_resp","seq":<up to 20 digits>.
constexpr std::size_t kEnvelopeBytes = 64;

nlohmann::json entryObject(const FsEntry& entry)
{
    return {{"name", entry.name}, {"dir", entry.dir}, {"size", entry.size}, {"mtime", entry.mtime}};
}

} // namespace

ListingReply buildListingReply(const ListingRequest& request, const std::vector<FsEntry>& entries,
    std::size_t maxBytes)
{
    ListingReply reply;
    reply.payload = {{"to", request.from}, {"call_id", request.callId}, {"path", request.path},
        {"entries", nlohmann::json::array()}};
    if (request.reqId != nullptr) {
        reply.payload["req_id"] = *request.reqId;
    }
    std::size_t bytes = reply.payload.dump().size() + kEnvelopeBytes;
    auto& list = reply.payload["entries"];
    for (const auto& entry : entries) {
        auto object = entryObject(entry);
        std::size_t entryBytes = object.dump().size() + 1; // and its separating comma
        if (bytes + entryBytes > maxBytes) {
            break;
        }
        bytes += entryBytes;
        list.push_back(std::move(object));
        ++reply.sent;
    }
    return reply;
}

} // namespace tavoro::files
