#include "core/download/EndDownload.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/http/RecordText.h"
#include "core/store/StreamList.h"

void EndDownload(DetectedStream& record, StreamList* list, DownloadHost& host, std::int32_t state,
                 const char* progressWord, const DownloadOutcome& outcome) {
    StoreDownloadState(record, state);
    if (progressWord != nullptr) {
        SetRecordText(record.progressText, progressWord);
    }
    if (list != nullptr) {
        list->AddOrUpdateStream(&record, 1);
    }
    host.downloadEnded(&record, outcome);
}
