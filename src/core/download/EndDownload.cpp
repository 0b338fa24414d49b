#include "core/download/EndDownload.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/common/RecordText.h"
#include "core/store/StreamList.h"

void EndDownload(DetectedStream& record, StreamList* list, DownloadHost& host, std::int32_t state,
                 const char* progressWord, const DownloadOutcome& outcome) {
    StoreDownloadState(record, state);
    StoreLiveRecording(record, false);
    if (progressWord != nullptr) {
        SetRecordText(record.progressText, progressWord);
    }
    // A failure leaves no file: nothing the row showed of its transfer stays true.
    if (outcome.kind == DownloadOutcome::Kind::kFailed) {
        for (char* text : {record.sizeText, record.timeText, record.rateText}) {
            text[0] = '\0';
        }
    }
    if (list != nullptr) {
        list->AddOrUpdateStream(&record, 1);
    }
    host.downloadEnded(&record, outcome);
}
