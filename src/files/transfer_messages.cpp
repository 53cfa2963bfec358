#include "files/transfer_messages.h"

#include "core/json_fields.h"

namespace tavoro::files {
namespace {

nlohmann::json addressed(const TransferAddress& address)
{
    return {{"to", address.to}, {"call_id", address.callId}, {"xfer_id", address.id}};
}

} // namespace

nlohmann::json startPayload(const TransferAddress& address, const std::string& name, std::int64_t size,
    const std::string& destDir)
{
    auto payload = addressed(address);
    payload["name"] = name;
    payload["size"] = size;
    payload["chunk"] = kChunkSize;
    payload["dest_dir"] = destDir;
    payload["p2p"] = false;
    return payload;
}

nlohmann::json chunkPayload(const TransferAddress& address, std::int64_t offset, std::string dataBase64)
{
    auto payload = addressed(address);
    payload["offset"] = offset;
    payload["data_b64"] = std::move(dataBase64);
    return payload;
}

nlohmann::json donePayload(const TransferAddress& address, bool ok, std::int64_t sent, const std::string& sha256)
{
    auto payload = addressed(address);
    payload["ok"] = ok;
    payload["sent"] = sent;
    if (!sha256.empty()) {
        payload["sha256"] = sha256;
    }
    return payload;
}

nlohmann::json ackPayload(const TransferAddress& address, std::int64_t received, std::optional<bool> complete)
{
    auto payload = addressed(address);
    payload["received"] = received;
    if (complete) {
        payload["complete"] = *complete;
    }
    return payload;
}

StartMessage readStart(const nlohmann::json& msg)
{
    return {json::stringField(msg, "from"), json::intField(msg, "xfer_id", 0), json::stringField(msg, "name"),
        json::intField(msg, "size", 0), json::stringField(msg, "dest_dir"), json::stringField(msg, "call_id")};
}

ChunkMessage readChunk(const nlohmann::json& msg)
{
    const auto* data = json::find(msg, "data_b64");
    return {json::stringField(msg, "from"), json::intField(msg, "xfer_id", 0), json::intField(msg, "offset", 0),
        data != nullptr && data->is_string() ? data : nullptr};
}

DoneMessage readDone(const nlohmann::json& msg)
{
    DoneMessage done{json::stringField(msg, "from"), json::intField(msg, "xfer_id", 0), json::boolField(msg, "ok"),
        json::intField(msg, "sent", 0), std::nullopt};
    if (const auto* sha = json::find(msg, "sha256"); sha != nullptr && sha->is_string()) {
        done.sha256 = sha->get<std::string>();
    }
    return done;
}

AckMessage readAck(const nlohmann::json& msg)
{
    AckMessage ack{json::stringField(msg, "from"), json::intField(msg, "xfer_id", 0), json::intField(msg, "received", 0), {}};
    if (const auto* complete = json::find(msg, "complete"); complete != nullptr && complete->is_boolean()) {
        ack.complete = complete->get<bool>();
    }
    return ack;
}

} // namespace tavoro::files
