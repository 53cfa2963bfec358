#include "platform/posix/json_file_settings_store.h"

#include "core/json_fields.h"
#include "core/log.h"
#include "platform/posix/atomic_file.h"

#include <chrono>
#include <fstream>
#include <sstream>

namespace tavoro::platform {

const core::WallClock& JsonFileSettingsStore::systemClock()
{
    static const core::SystemWallClock clock;
    return clock;
}

JsonFileSettingsStore::JsonFileSettingsStore(std::filesystem::path dir, const core::WallClock& clock)
    : file_(dir / "settings.json"), clock_(clock)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!ec) {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
    }
    load();
}

void JsonFileSettingsStore::load()
{
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        return; // first start: nothing stored yet
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        keepAside("无法读取", true);
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = json::parse(text.str());
    if (!parsed || !parsed->is_object()) {
        keepAside(parsed ? "不是 JSON 对象" : "JSON 无法解析", true);
        return;
    }
    values_ = std::move(*parsed);
}

bool JsonFileSettingsStore::keepAside(const std::string& why, bool move)
{
    auto stamp = std::chrono::duration_cast<std::chrono::seconds>(clock_.now().time_since_epoch()).count();
    auto aside = file_;
    aside += ".corrupt-" + std::to_string(stamp);
    std::error_code ec;
    if (std::filesystem::exists(aside, ec)) {
        ec = std::make_error_code(std::errc::file_exists);
    } else if (move) {
        std::filesystem::rename(file_, aside, ec);
    } else {
        std::filesystem::copy_file(file_, aside, ec);
    }
    if (ec) {
        frozen_ = true;
        log::warn("Tavoro: 设置文件" + why + "，无法另存 (" + ec.message() + ")，原文件保持不动，本次运行的设置不会保存");
        return false;
    }
    log::warn("Tavoro: 设置文件" + why + "，已另存为 " + aside.string() + (move ? "，改用默认设置" : ""));
    return true;
}

bool JsonFileSettingsStore::keepCopyAside(const std::string& why)
{
    std::lock_guard lock(mutex_);
    if (frozen_ || copiedAside_) {
        return !frozen_; // the copy made earlier in this run already holds what was stored
    }
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        return true; // nothing stored on disk to lose
    }
    copiedAside_ = keepAside(why, false);
    return copiedAside_;
}

std::optional<nlohmann::json> JsonFileSettingsStore::get(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return *it;
}

void JsonFileSettingsStore::set(std::string_view key, nlohmann::json value)
{
    if (!json::dump(value)) {
        log::warn("Tavoro: 设置 " + std::string(key) + " 含有无效的 UTF-8 文本，未保存");
        return;
    }
    std::lock_guard lock(mutex_);
    values_[std::string(key)] = std::move(value);
    save();
}

void JsonFileSettingsStore::remove(std::string_view key)
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return;
    }
    values_.erase(it);
    save();
}

void JsonFileSettingsStore::save()
{
    if (frozen_) {
        return;
    }
    auto written = writeFileAtomically(file_, values_.dump(2) + "\n");
    if (!written) {
        log::warn("Tavoro: 设置无法保存到 " + file_.string() + ": " + written.error());
    }
}

} // namespace tavoro::platform
