#pragma once

#include <string>

#include "core/download/TransferProgress.h"

// The four column texts of a download's row, made from its numbers; the one place both front
// ends take them from. Pure functions, usable from any thread.
namespace TransferText {

struct Columns {
    std::string size;
    std::string progress;
    std::string time;
    std::string rate;
};

std::string size(const TransferProgress& progress);
std::string progress(const TransferProgress& progress);
std::string timeLeft(const TransferProgress& progress);
std::string rate(const TransferProgress& progress);
Columns of(const TransferProgress& progress);

}  // namespace TransferText
