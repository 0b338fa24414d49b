#pragma once

#include <string>

#include "core/download/DownloadWorker.h"
#include "core/download/StartResult.h"

struct DetectedStream;

// A recording as the engine sees it (CRecordDownload): started once on the owner's thread,
// ended through its DownloadHost like every download.
class RecordWorker : public DownloadWorker {
  public:
    // Creates the file aside of the target and starts the worker thread. kStarted when
    // started; otherwise the reason, after telling the user why unless kRefused.
    virtual StartResult Start(DetectedStream* record, const std::string& url,
                              const std::string& targetPath) = 0;
};
