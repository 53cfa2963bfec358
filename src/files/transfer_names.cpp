#include "files/transfer_names.h"

namespace tavoro::files {

namespace {
constexpr const char* kFallbackName = "download.bin";
}

std::string receivedFileName(std::string_view announced)
{
    const auto cut = announced.find_last_of("/\\");
    const std::string_view last = cut == std::string_view::npos ? announced : announced.substr(cut + 1);
    if (last.empty() || last == "." || last == ".." || last.find('\0') != std::string_view::npos) {
        return kFallbackName;
    }
    return std::string(last);
}

std::string partFileName(const std::string& name) { return name + ".part"; }

std::string temporaryFileName(const std::string& name, std::int64_t transferId)
{
    return "." + name + "." + std::to_string(transferId) + ".tavoro-tmp";
}

std::string sentFileName(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const auto cut = path.rfind('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

} // namespace tavoro::files
