#pragma once

#include <string>
#include <vector>

#include "cli/DetectOptions.h"
#include "cli/StreamPrinter.h"
#include "core/capture/CaptureFileReadAhead.h"
#include "core/session/MonitorSession.h"

class CliArgs;
class DetectInput;
class SharedFileDecoding;

// One `quorvex-cli detect` over an opened input: feeds its packets to a session and prints
// the detections as they come, the new streams only or, with --all, every one.
class DetectRun {
  public:
    DetectRun(const CliArgs& args, const DetectOptions& options, DetectInput& input);
    DetectRun(const DetectRun&) = delete;
    DetectRun& operator=(const DetectRun&) = delete;

    // Reads the input to its end; the exit status (0, or 2 after a read or write failure told
    // on stderr).
    int run();

  private:
    void setUpSession(DetectInput& input);

    // Each returns 0 at the end of the input, otherwise the exit status of the failure told.
    int readFileAhead();
    int readStandardInput();
    int finish();

    bool printed(const MonitorSession::Detection& detection) const {
        return detection.added || options_.all;
    }
    bool printEach(const std::vector<MonitorSession::Detection>& detections);
    // The same with the lines made ahead where there are.
    bool printMadeAhead(SharedFileDecoding& decoding, const CaptureFileReadAhead::Batch& batch);
    bool printSecure();
    int failWriting() const;
    int failReading(const std::string& error);

    const CliArgs& args_;
    const DetectOptions& options_;
    CaptureFileReader& reader_;
    MonitorSession session_{SessionCallbacks{}};
    StreamPrinter printer_;
    std::vector<MonitorSession::Detection> detections_;
    std::vector<MonitorSession::Detection> secureDetections_;
};
