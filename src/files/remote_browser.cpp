#include "files/remote_browser.h"

#include "core/json_fields.h"
#include "core/log.h"
#include "files/remote_paths.h"

namespace tavoro::files {

FsEntry fsEntryFromJson(const nlohmann::json& object)
{
    return {json::stringField(object, "name"), json::boolField(object, "dir"), json::intField(object, "size", 0),
        json::intField(object, "mtime", 0)};
}

std::shared_ptr<RemoteBrowser> RemoteBrowser::create(protocol::MessageSender& sender, std::string peerId,
    std::string callId, core::MainQueue& mainQueue, core::Scheduler& mainScheduler)
{
    return std::shared_ptr<RemoteBrowser>(
        new RemoteBrowser(sender, std::move(peerId), std::move(callId), mainQueue, mainScheduler));
}

RemoteBrowser::RemoteBrowser(protocol::MessageSender& sender, std::string peerId, std::string callId,
    core::MainQueue& mainQueue, core::Scheduler& mainScheduler)
    : sender_(sender),
      peerId_(std::move(peerId)),
      callId_(std::move(callId)),
      mainQueue_(mainQueue),
      mainScheduler_(mainScheduler)
{
}

void RemoteBrowser::send(const std::string& type, nlohmann::json fields)
{
    fields["to"] = peerId_;
    fields["call_id"] = callId_;
    sender_.send(type, std::move(fields));
}

void RemoteBrowser::list(const std::string& directory)
{
    path.set(directory);
    loading.set(true);
    log::info("Tavoro fs: 请求列目录 '" + directory + "' → peer=" + peerId_ + " call_id=" + callId_);
    send("fs_list", {{"path", directory}, {"req_id", ""}});
}

void RemoteBrowser::feed(const std::string& directory, const nlohmann::json::array_t& objects)
{
    log::info("Tavoro fs: 收到列目录响应 '" + directory + "' → " + std::to_string(objects.size()) + " 项");
    std::vector<FsEntry> listing;
    listing.reserve(objects.size());
    for (const auto& object : objects) {
        listing.push_back(fsEntryFromJson(object));
    }
    std::weak_ptr<RemoteBrowser> weak = weak_from_this();
    mainQueue_.runOrPost([weak, directory, listing = std::move(listing)]() mutable {
        if (auto self = weak.lock()) {
            self->path.set(directory);
            self->entries.set(std::move(listing));
            self->loading.set(false);
        }
    });
}

void RemoteBrowser::up()
{
    if (auto current = path.get(); !current.empty()) {
        list(remoteParent(current));
    }
}

void RemoteBrowser::download(const FsEntry& entry, const std::string& toLocalDir)
{
    if (entry.dir) {
        return;
    }
    send("fs_get", {{"src_path", joinRemotePath(path.get(), entry.name)}, {"dest_dir", toLocalDir}});
}

void RemoteBrowser::mkdir(const std::string& name)
{
    send("fs_mkdir", {{"path", joinRemotePath(path.get(), name)}});
    relist();
}

void RemoteBrowser::remove(const std::vector<std::string>& names)
{
    const auto current = path.get();
    auto paths = nlohmann::json::array();
    for (const auto& name : names) {
        paths.push_back(joinRemotePath(current, name));
    }
    send("fs_delete", {{"paths", std::move(paths)}});
    relist();
}

void RemoteBrowser::relist()
{
    std::weak_ptr<RemoteBrowser> weak = weak_from_this();
    mainScheduler_.after(kRelistDelay, [weak] {
        if (auto self = weak.lock()) {
            self->list(self->path.get());
        }
    });
}

} // namespace tavoro::files
