#include "core/download/record/CRecordDownload.h"
#include "core/download/record/RecordModule.h"

// The recording module's entry point (see RecordModule).
extern "C" __attribute__((visibility("default"))) RecordWorker* quorvex_new_record_download(
    DownloadHost& host, RecordKind kind, const HttpDownloadOptions& options) {
    return new CRecordDownload(host, kind, options);
}
