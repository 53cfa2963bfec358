#pragma once

#include "files/directory_listing.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace tavoro::files {

// The "fs_list_resp" for one request, as far as it fits one signaling message. Pure.
struct ListingReply {
    nlohmann::json payload;    // "to", "call_id", "path", "entries" and, when asked, "req_id"
    std::size_t sent = 0;      // entries in the payload: the first of the sorted listing
};

struct ListingRequest {
    std::string from;
    std::string callId;
    std::string path;                    // as received, not normalised
    const nlohmann::json* reqId = nullptr; // the request's "req_id" when it is text
};

// Entries are added in order while the serialised reply (with room for the envelope's "type" and
// "seq") stays at or below maxBytes.
ListingReply buildListingReply(const ListingRequest& request, const std::vector<FsEntry>& entries,
    std::size_t maxBytes);

} // namespace tavoro::files
