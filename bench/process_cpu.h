#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace tavoro::bench {

// User plus system CPU seconds a running process has used so far (utime + stime of /proc/<pid>/stat;
// 0 when it is gone).
inline double processCpuSeconds(pid_t pid)
{
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!file) {
        return 0;
    }
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    const char* afterName = read ? std::strrchr(line, ')') : nullptr;
    unsigned long user = 0;
    unsigned long system = 0;
    if (!afterName ||
        std::sscanf(afterName + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2) {
        return 0;
    }
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace tavoro::bench
