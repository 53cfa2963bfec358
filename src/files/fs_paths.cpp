#include "files/fs_paths.h"

#include <algorithm>

namespace tavoro::files {

std::string normalizeRequestPath(std::string_view path)
{
    std::string result;
    result.reserve(path.size() + 1);
    for (char c : path) {
        if (c == '\\') {
            c = '/';
        }
        if (c == '/' && !result.empty() && result.back() == '/') {
            continue;
        }
        result.push_back(c);
    }
    if (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    if (result.empty() || result.front() != '/') {
        result.insert(result.begin(), '/');
    }
    return result;
}

std::string lastPathComponent(std::string_view normalizedPath)
{
    auto slash = normalizedPath.rfind('/');
    return std::string(slash == std::string_view::npos ? normalizedPath : normalizedPath.substr(slash + 1));
}

bool isSameOrInside(std::string_view path, std::string_view ancestor)
{
    if (ancestor == "/") {
        return true;
    }
    if (!path.starts_with(ancestor)) {
        return false;
    }
    return path.size() == ancestor.size() || path[ancestor.size()] == '/';
}

} // namespace tavoro::files
