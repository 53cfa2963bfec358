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

// Prints the machine's load, which every CPU and latency figure depends on.
inline void printLoad()
{
    std::FILE* file = std::fopen("/proc/loadavg", "r");
    double one = 0;
    double five = 0;
    if (file) {
        if (std::fscanf(file, "%lf %lf", &one, &five) != 2) {
            one = five = 0;
        }
        std::fclose(file);
    }
    std::printf("load average %.2f (1 min) %.2f (5 min) on %ld cores\n", one, five, ::sysconf(_SC_NPROCESSORS_ONLN));
}

} // namespace tavoro::bench
