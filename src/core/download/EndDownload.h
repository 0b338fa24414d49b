#pragma once

#include <cstdint>

#include "core/download/DownloadOutcome.h"

class DownloadHost;
class StreamList;
struct DetectedStream;

// The one way a started download ends, for every worker: the record's final state and
// progress word (null keeps the row's word), for a failure no size, time or rate, the row's
// last refresh through `list`, and then the host told of the outcome. Called once, on the
// worker's thread.
void EndDownload(DetectedStream& record, StreamList* list, DownloadHost& host, std::int32_t state,
                 const char* progressWord, const DownloadOutcome& outcome);
