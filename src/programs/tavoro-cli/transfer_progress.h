#pragma once

#include <cstdint>
#include <string>

namespace tavoro::cli {

// How far one transfer has got, for the progress line.
struct TransferFigures {
    std::int64_t done = 0;  // bytes
    std::int64_t total = 0; // bytes announced
    double seconds = 0;     // since the transfer started
};

// "[#########---------]  45%  9.0 MB / 20.0 MB  4.5 MB/s  剩余 3 秒": the bar a terminal redraws in
// place. Rate and time left appear once a tenth of a second has passed. Pure.
std::string progressBar(const TransferFigures& figures);

// "20.0 MB 用时 4.4 秒（4.5 MB/s）": the one line printed when the output is not a terminal, and
// after the bar. Pure.
std::string transferSummary(const TransferFigures& figures);

} // namespace tavoro::cli
