#include "files/remote_paths.h"

namespace tavoro::files {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

} // namespace

char remoteSeparator(std::string_view path)
{
    if (path.find('\\') != std::string_view::npos) {
        return '\\';
    }
    const bool drive = path.size() >= 2 && path[1] == ':' && isAsciiLetter(path[0]);
    return drive ? '\\' : '/';
}

std::string joinRemotePath(std::string_view directory, std::string_view name)
{
    if (directory.empty()) {
        return std::string(name);
    }
    const char separator = remoteSeparator(directory);
    std::string joined(directory);
    if (joined.back() != separator) {
        joined += separator;
    }
    return joined.append(name);
}

std::string remoteParent(std::string_view path)
{
    const auto last = path.rfind(remoteSeparator(path));
    if (last == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(0, last));
}

} // namespace tavoro::files
