#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "core/download/TransferProgress.h"
#include "core/store/StreamList.h"

// The command line's stand-in for the list row: with --progress, every row refresh becomes one
// JSON line on `out` with the record's state, the column texts and the numbers they are made of.
class ProgressLinePrinter : public StreamList {
  public:
    ProgressLinePrinter(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}

    int addStream(const DetectedStream& record) override;
    int showTransfer(const DetectedStream& record, const TransferProgress& progress) override;

    // The line of the record's final state, unless it is already the last line printed.
    void printFinal(const DetectedStream& record);

    static std::string lineOf(const DetectedStream& record, const TransferProgress& progress);

  private:
    void print(const std::string& line);

    std::FILE* out_;
    bool enabled_;
    std::mutex mutex_;
    std::string lastLine_;
    TransferProgress lastShown_;  // under mutex_
};
