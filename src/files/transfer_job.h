#pragma once

#include "core/observable.h"

#include <cstdint>
#include <string>

namespace tavoro::files {

inline constexpr const char* kStatusWaiting = "等待中";
inline constexpr const char* kStatusTransferring = "传输中";
inline constexpr const char* kStatusDone = "完成";
inline constexpr const char* kStatusFailed = "中断";

// One transfer as the user sees it. The plain fields are set at creation and never change; the
// observable ones change on the main thread only.
struct TransferJob {
    TransferJob(std::int64_t id, std::string name, bool isUpload, std::int64_t total,
        std::string initialStatus = kStatusWaiting)
        : id(id), name(std::move(name)), isUpload(isUpload), total(total), status(std::move(initialStatus))
    {
    }

    const std::int64_t id;
    const std::string name;
    const bool isUpload;
    const std::int64_t total;
    core::Observable<std::int64_t> sent{0}; // bytes sent (upload) or received and written (download)
    core::Observable<std::string> status;
    // Receiving side: the SHA-256 (lower-case hex) of the stored file, set before the status turns
    // "完成"; empty otherwise.
    core::Observable<std::string> sha256;
};

} // namespace tavoro::files
