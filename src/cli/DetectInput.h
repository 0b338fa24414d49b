#pragma once

#include <memory>
#include <string>

#include "core/capture/CaptureFileReader.h"

struct DetectOptions;
class KeyLog;
class SuffixTable;

// What detect reads before the first packet: the suffix list, the TLS secrets (the key log's
// and those a pcapng file carries) and the capture, opened.
class DetectInput {
  public:
    // False with `error` set to the message for the user when one of them cannot be read.
    bool open(const DetectOptions& options, std::string& error);

    const std::shared_ptr<const SuffixTable>& suffixes() const { return suffixes_; }
    const std::shared_ptr<KeyLog>& keys() const { return keys_; }
    CaptureFileReader& reader() { return reader_; }

  private:
    bool loadSuffixes(const DetectOptions& options, std::string& error);
    bool readKeyLog(const DetectOptions& options, std::string& error);
    bool openCapture(const DetectOptions& options, std::string& error);

    std::shared_ptr<const SuffixTable> suffixes_;
    std::shared_ptr<KeyLog> keys_;
    CaptureFileReader reader_;
};
