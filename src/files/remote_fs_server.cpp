#include "files/remote_fs_server.h"

#include "core/json_fields.h"
#include "core/log.h"
#include "files/directory_listing.h"
#include "files/fs_operations.h"
#include "files/fs_paths.h"
#include "files/listing_reply.h"
#include "files/name_collator.h"

#include <array>
#include <algorithm>

namespace tavoro::files {
namespace {

constexpr std::array kRequestTypes = {"fs_list", "fs_get", "fs_mkdir", "fs_delete", "fs_rename", "fs_copy"};
// Refused senders are logged once each; past this many, the memory of them starts over.
constexpr std::size_t kMaxRememberedRefusals = 256;

// The normalised text entries of an array field; empty and non-text entries are skipped.
std::vector<std::string> pathList(const nlohmann::json& msg, std::string_view key)
{
    std::vector<std::string> paths;
    for (const auto& item : json::arrayField(msg, key)) {
        if (item.is_string() && !item.get_ref<const std::string&>().empty()) {
            paths.push_back(normalizeRequestPath(item.get_ref<const std::string&>()));
        }
    }
    return paths;
}

std::string pathField(const nlohmann::json& msg, std::string_view key)
{
    return normalizeRequestPath(json::stringField(msg, key));
}

} // namespace

// The part that runs on the worker queue.
struct RemoteFsServer::Worker {
    explicit Worker(protocol::MessageSender& sender) : sender(sender) {}

    void serve(const std::string& type, const nlohmann::json& msg);
    void list(const nlohmann::json& msg);
    void download(const nlohmann::json& msg);

    protocol::MessageSender& sender;
    NameCollator collator;
    std::mutex handlerMutex; // guards downloadHandler
    DownloadHandler downloadHandler;
};

RemoteFsServer::RemoteFsServer(protocol::MessageSender& sender, core::SerialQueue& worker, Authorizer isSessionPeer)
    : isSessionPeer_(std::move(isSessionPeer)), worker_(worker), work_(std::make_shared<Worker>(sender))
{
}

RemoteFsServer::~RemoteFsServer() = default;

void RemoteFsServer::setDownloadHandler(DownloadHandler handler)
{
    std::lock_guard lock(work_->handlerMutex);
    work_->downloadHandler = std::move(handler);
}

bool RemoteFsServer::handle(const std::string& type, const nlohmann::json& msg)
{
    std::string from = json::stringField(msg, "from");
    if (from.empty() || std::find(kRequestTypes.begin(), kRequestTypes.end(), type) == kRequestTypes.end()) {
        return false;
    }
    if (admitted(from)) {
        worker_.post([work = work_, type, msg] { work->serve(type, msg); });
    }
    return true;
}

bool RemoteFsServer::admitted(const std::string& from)
{
    if (isSessionPeer_ && isSessionPeer_(from)) {
        return true;
    }
    std::lock_guard lock(refusedMutex_);
    if (refused_.size() >= kMaxRememberedRefusals) {
        refused_.clear();
    }
    if (refused_.insert(from).second) {
        log::warn("Tavoro fs: ⚠ 拒绝文件请求: " + from + " 不是会话对端");
    }
    return false;
}

void RemoteFsServer::Worker::serve(const std::string& type, const nlohmann::json& msg)
{
    if (type == "fs_list") {
        list(msg);
    } else if (type == "fs_get") {
        download(msg);
    } else if (type == "fs_mkdir") {
        makeDirectories(pathField(msg, "path"));
    } else if (type == "fs_delete") {
        removeItems(pathList(msg, "paths"));
    } else if (type == "fs_rename") {
        renameItem(pathField(msg, "old_path"), pathField(msg, "new_path"));
    } else if (type == "fs_copy") {
        copyItems(pathList(msg, "srcs"), pathField(msg, "dst_dir"));
    }
}

void RemoteFsServer::Worker::list(const nlohmann::json& msg)
{
    ListingRequest request;
    request.from = json::stringField(msg, "from");
    request.callId = json::stringField(msg, "call_id");
    request.path = json::stringField(msg, "path");
    const auto* reqId = json::find(msg, "req_id");
    request.reqId = reqId != nullptr && reqId->is_string() ? reqId : nullptr;

    auto entries = readDirectory(normalizeRequestPath(request.path));
    sortListing(entries, collator);
    auto reply = buildListingReply(request, entries, kMaxReplyBytes);
    if (reply.sent < entries.size()) {
        log::warn("Tavoro fs: ⚠ fs_list '" + request.path + "' 过大, 只发送前 " + std::to_string(reply.sent) + "/" +
            std::to_string(entries.size()) + " 项");
    }
    log::info("Tavoro fs: fs_list '" + request.path + "' → " + std::to_string(reply.sent) + " 项 (from " + request.from +
        ")");
    sender.send("fs_list_resp", std::move(reply.payload));
}

void RemoteFsServer::Worker::download(const nlohmann::json& msg)
{
    DownloadRequest request{pathField(msg, "src_path"), json::stringField(msg, "dest_dir"),
        json::stringField(msg, "from"), json::stringField(msg, "call_id")};
    DownloadHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = downloadHandler;
    }
    if (!handler) {
        log::warn("Tavoro fs: ⚠ fs_get '" + request.srcPath + "' 未处理: 文件传输不可用");
        return;
    }
    handler(std::move(request));
}

} // namespace tavoro::files
