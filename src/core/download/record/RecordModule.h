#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/download/http/HttpDownloadOptions.h"
#include "core/download/record/RecordKind.h"
#include "core/download/record/RecordWorker.h"

class DownloadHost;

// The recording module (quorvex-record.so), which alone links the media libraries: loaded at
// the first recording, so that a program that never records does not map them (they bring
// some hundred libraries of their own). Looked for beside the running program, in
// ../libexec/quorvex beside its bin directory, at the installed location, and in the build
// tree the program was built in. Loaded once and never unloaded; safe from any thread.
class RecordModule {
  public:
    static constexpr char kName[] = "quorvex-record.so";
    // The module's one entry point, a factory of CRecordDownload.
    static constexpr char kFactory[] = "quorvex_new_record_download";
    using Factory = RecordWorker* (*)(DownloadHost& host, RecordKind kind,
                                      const HttpDownloadOptions& options);

    static std::vector<std::string> candidates();

    // A new recording, or nullptr with the reason in `error` when the module cannot be loaded.
    static std::unique_ptr<RecordWorker> NewDownload(DownloadHost& host, RecordKind kind,
                                                     const HttpDownloadOptions& options,
                                                     std::string& error);
};
