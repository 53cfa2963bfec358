#include "server/sqlite_device_key_store.h"

#include "core/log.h"

#include <sqlite3.h>

namespace tavoro::server {
namespace {

constexpr const char* kSetup =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=FULL;"
    "CREATE TABLE IF NOT EXISTS device_keys ("
    "  device_id TEXT PRIMARY KEY NOT NULL,"
    "  key_digest TEXT NOT NULL,"
    "  added_at INTEGER NOT NULL DEFAULT (strftime('%s', 'now')));";

// Resets the statement and its bindings when the caller is done with it, whatever the outcome.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
    ~StatementUse()
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

    bool bind(int index, const std::string& text)
    {
        return sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    int step() { return sqlite3_step(statement_); }

private:
    sqlite3_stmt* statement_;
};

} // namespace

void SqliteDeviceKeyStore::CloseDatabase::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

void SqliteDeviceKeyStore::FinalizeStatement::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

SqliteDeviceKeyStore::SqliteDeviceKeyStore(Database db, Statement find, Statement add)
    : db_(std::move(db)), find_(std::move(find)), add_(std::move(add))
{
}

Result<std::unique_ptr<SqliteDeviceKeyStore>> SqliteDeviceKeyStore::open(const std::filesystem::path& file)
{
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Database db(raw); // sqlite hands out a handle to close even when opening failed
    const auto failed = [&](const std::string& what) {
        return Failure{what + " " + file.string() + ": " + (db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(opened))};
    };
    if (opened != SQLITE_OK) {
        return failed("cannot open");
    }
    sqlite3_busy_timeout(db.get(), 1000);
    if (sqlite3_exec(db.get(), kSetup, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return failed("cannot set up");
    }
    const auto prepare = [&](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db.get(), sql, -1, &statement, nullptr);
        return Statement(statement);
    };
    Statement find = prepare("SELECT key_digest FROM device_keys WHERE device_id = ?1");
    Statement add = prepare("INSERT OR IGNORE INTO device_keys (device_id, key_digest) VALUES (?1, ?2)");
    if (!find || !add) {
        return failed("cannot prepare statements on");
    }
    return std::unique_ptr<SqliteDeviceKeyStore>(new SqliteDeviceKeyStore(std::move(db), std::move(find), std::move(add)));
}

std::optional<std::string> SqliteDeviceKeyStore::find(const std::string& deviceId)
{
    StatementUse use(find_.get());
    const int result = use.bind(1, deviceId) ? use.step() : SQLITE_ERROR;
    if (result == SQLITE_DONE) {
        return std::nullopt;
    }
    if (result != SQLITE_ROW) {
        log::warn(std::string("Tavoro rendezvous: device key lookup failed: ") + sqlite3_errmsg(db_.get()));
        return std::string();
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(find_.get(), 0));
    return std::string(text ? text : "");
}

bool SqliteDeviceKeyStore::add(const std::string& deviceId, const std::string& digest)
{
    StatementUse use(add_.get());
    if (!use.bind(1, deviceId) || !use.bind(2, digest)) {
        return false;
    }
    if (use.step() != SQLITE_DONE) {
        log::warn(std::string("Tavoro rendezvous: storing a device key failed: ") + sqlite3_errmsg(db_.get()));
        return false;
    }
    return true;
}

} // namespace tavoro::server
