#pragma once

#include <cstdint>
#include <string>

// The texts of the size, time-left and rate columns. Pure functions, locale-independent
// (always a decimal point), usable from any thread.

// "0 Byte" .. "1023 Byte", "1.0 KB" .. "1024.0 KB", then "1.00 MB" and up.
std::string FormatSize(std::uint64_t bytes);

// "45 秒", "2 分" (whole minutes), "2分 5秒"; no hours.
std::string FormatTimeLeft(std::uint32_t seconds);

// `rate` in bytes per millisecond: below 1 as "512 B/S" (times 1024), then "1.00 KB/S" up to
// 10, then "123 KB/S". The KB/S figure is the bytes-per-millisecond value unchanged.
std::string FormatRate(double rate);
