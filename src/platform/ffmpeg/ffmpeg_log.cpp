#include "platform/ffmpeg/ffmpeg_handles.h"

#include "core/log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace tavoro::platform {

namespace {

void forward(void* context, int level, const char* format, va_list arguments)
{
    if (level > av_log_get_level()) {
        return;
    }
    char line[512];
    int prefixed = 1;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &prefixed);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (!text.empty()) {
        log::debug("Tavoro: ffmpeg: " + text);
    }
}

} // namespace

void routeFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(forward); });
}

} // namespace tavoro::platform
