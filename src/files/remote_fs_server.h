#pragma once

#include "core/serial_queue.h"
#include "protocol/message_sender.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace tavoro::files {

// A peer's request for one of our files ("fs_get"), for the file transfer manager to carry out.
struct DownloadRequest {
    std::string srcPath; // normalised, on this side
    std::string destDir; // on the requester's side, as received
    std::string to;      // the requester
    std::string callId;
};

// Serves a session peer's file-system requests: "fs_list" (answered with one "fs_list_resp"),
// "fs_mkdir", "fs_delete", "fs_rename", "fs_copy" (no reply) and "fs_get" (handed to the download
// handler). Only senders the authorization predicate accepts are served; anyone else gets nothing.
//
// Threads: `handle` is called by the message routing, one message at a time; it only checks the
// request and posts the work to `worker`, where every file-system operation runs in arrival order.
// `setDownloadHandler` may be called from any thread. The predicate runs on the routing thread; the
// download handler on the worker. `sender` and `worker` outlive this object; work already posted
// keeps what it needs alive by itself.
class RemoteFsServer {
public:
    using Authorizer = std::function<bool(const std::string& from)>;
    using DownloadHandler = std::function<void(DownloadRequest)>;

    // Replies larger than this, serialised, are cut: the signaling server's message limit lies above.
    static constexpr std::size_t kMaxReplyBytes = 900'000;

    RemoteFsServer(protocol::MessageSender& sender, core::SerialQueue& worker, Authorizer isSessionPeer);
    ~RemoteFsServer();
    RemoteFsServer(const RemoteFsServer&) = delete;
    RemoteFsServer& operator=(const RemoteFsServer&) = delete;

    // True when the type is one of the six requests and "from" is set (then the request is taken,
    // served or refused); false otherwise, and nothing is done.
    bool handle(const std::string& type, const nlohmann::json& msg);

    void setDownloadHandler(DownloadHandler handler);

private:
    struct Worker;

    bool admitted(const std::string& from);

    Authorizer isSessionPeer_;
    core::SerialQueue& worker_;
    std::shared_ptr<Worker> work_; // used on the worker only, apart from its own locked handler
    std::mutex refusedMutex_;      // guards refused_
    std::set<std::string> refused_; // senders already logged as refused
};

} // namespace tavoro::files
