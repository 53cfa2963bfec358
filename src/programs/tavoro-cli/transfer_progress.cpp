#include "programs/tavoro-cli/transfer_progress.h"

#include "files/size_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavoro::cli {
namespace {

constexpr int kBarWidth = 24;
constexpr double kMinSeconds = 0.1;

double fraction(const TransferFigures& f)
{
    return f.total > 0 ? std::clamp(double(f.done) / double(f.total), 0.0, 1.0) : 1.0;
}

std::string rateText(const TransferFigures& f)
{
    return files::sizeText(static_cast<std::int64_t>(double(f.done) / f.seconds)) + "/s";
}

} // namespace

std::string progressBar(const TransferFigures& f)
{
    const int filled = static_cast<int>(fraction(f) * kBarWidth);
    std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] ";
    line += std::to_string(static_cast<int>(fraction(f) * 100)) + "%  " + files::sizeText(f.done) + " / "
        + files::sizeText(f.total);
    if (f.seconds >= kMinSeconds && f.done > 0) {
        const double left = double(std::max<std::int64_t>(f.total - f.done, 0)) * f.seconds / double(f.done);
        line += "  " + rateText(f) + "  剩余 " + std::to_string(static_cast<long long>(std::ceil(left))) + " 秒";
    }
    return line;
}

std::string transferSummary(const TransferFigures& f)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", f.seconds);
    std::string line = files::sizeText(f.done) + " 用时 " + seconds + " 秒";
    if (f.seconds >= kMinSeconds) {
        line += "（" + rateText(f) + "）";
    }
    return line;
}

} // namespace tavoro::cli
