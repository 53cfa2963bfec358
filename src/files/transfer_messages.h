#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

// The three messages of a file transfer: built for sending, read leniently on receipt. Pure.
namespace tavoro::files {

inline constexpr const char* kStartType = "file_xfer_start";
inline constexpr const char* kChunkType = "file_xfer_chunk";
inline constexpr const char* kDoneType = "file_xfer_done";
// Receiver to sender, now and then: how many bytes arrived and were written. A sender that hears it
// keeps its transfer within a window of the receiver's progress; peers that do not know it ignore it.
inline constexpr const char* kAckType = "file_xfer_ack";
inline constexpr std::int64_t kChunkSize = 65536;

// Who a transfer's messages go to.
struct TransferAddress {
    std::string to;
    std::string callId;
    std::int64_t id = 0;
};

nlohmann::json startPayload(const TransferAddress& address, const std::string& name, std::int64_t size,
    const std::string& destDir);
nlohmann::json chunkPayload(const TransferAddress& address, std::int64_t offset, std::string dataBase64);
// "sha256" is added when `sha256` is not empty.
nlohmann::json donePayload(const TransferAddress& address, bool ok, std::int64_t sent, const std::string& sha256);
// The last confirmation, answering "file_xfer_done", also says whether the file was stored whole.
nlohmann::json ackPayload(const TransferAddress& address, std::int64_t received, std::optional<bool> complete = {});

struct StartMessage {
    std::string from;
    std::int64_t id = 0;
    std::string name; // as announced; missing or not text: empty
    std::int64_t size = 0;
    std::string destDir;
    std::string callId;
};

struct ChunkMessage {
    std::string from;
    std::int64_t id = 0;
    std::int64_t offset = 0;
    const nlohmann::json* data = nullptr; // "data_b64" when it is text, pointing into the message
};

struct DoneMessage {
    std::string from;
    std::int64_t id = 0;
    bool ok = false;
    std::int64_t sent = 0;
    std::optional<std::string> sha256; // present only when the sender sent it as text
};

struct AckMessage {
    std::string from;
    std::int64_t id = 0;
    std::int64_t received = 0;
    std::optional<bool> complete; // only in the last one
};

StartMessage readStart(const nlohmann::json& msg);
ChunkMessage readChunk(const nlohmann::json& msg);
DoneMessage readDone(const nlohmann::json& msg);
AckMessage readAck(const nlohmann::json& msg);

} // namespace tavoro::files
