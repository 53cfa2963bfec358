#pragma once

#include "core/result.h"
#include "server/device_key_store.h"

#include <filesystem>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace tavoro::server {

// The device key store in an SQLite file (the server's state folder), so that ownership survives a
// restart. Every add is its own transaction, written through to the disk (WAL, synchronous=FULL)
// before it returns. Used from one thread at a time (the signaling thread once the server runs).
class SqliteDeviceKeyStore final : public DeviceKeyStore {
public:
    // Opens the file, creating it and its table when missing; a failure when it cannot.
    static Result<std::unique_ptr<SqliteDeviceKeyStore>> open(const std::filesystem::path& file);

    std::optional<std::string> find(const std::string& deviceId) override;
    bool add(const std::string& deviceId, const std::string& digest) override;

private:
    struct CloseDatabase {
        void operator()(sqlite3* db) const;
    };
    struct FinalizeStatement {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Database = std::unique_ptr<sqlite3, CloseDatabase>;
    using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

    SqliteDeviceKeyStore(Database db, Statement find, Statement add);

    Database db_;
    Statement find_;
    Statement add_;
};

} // namespace tavoro::server
