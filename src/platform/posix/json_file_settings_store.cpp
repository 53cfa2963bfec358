#include "platform/posix/json_file_settings_store.h"

#include "core/json_fields.h"
#include "core/log.h"
#include "platform/posix/atomic_file.h"

#include <chrono>
#include <fstream>
#include <sstream>

namespace tavoro::platform {

JsonFileSettingsStore::JsonFileSettingsStore(std::filesystem::path dir) : file_(dir / "settings.json")
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
        keepAside("无法读取");
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = json::parse(text.str());
    if (!parsed || !parsed->is_object()) {
        keepAside(parsed ? "不是 JSON 对象" : "JSON 无法解析");
        return;
    }
    values_ = std::move(*parsed);
}

void JsonFileSettingsStore::keepAside(const std::string& why)
{
    auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    auto aside = file_;
    aside += ".corrupt-" + std::to_string(stamp);
    std::error_code ec;
    std::filesystem::rename(file_, aside, ec);
    log::warn("Tavoro: 设置文件" + why + "，已另存为 " + aside.string() + "，改用默认设置");
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
    auto error = writeFileAtomically(file_, values_.dump(2) + "\n");
    if (!error.empty()) {
        log::warn("Tavoro: 设置无法保存到 " + file_.string() + ": " + error);
    }
}

} // namespace tavoro::platform
