#pragma once

// Whether a download worker's Start set its thread going and, when not, why. Every refusal but
// kRefused has been told to the user through the worker's DownloadHost; none reports an end.
enum class StartResult {
    kStarted,
    kRefused,      // no record, or the worker was started before
    kCannotWrite,  // the target file cannot be created
    kBadUrl,       // not a URL, or not one this worker fetches
    kBadRequest,   // a value taken from the record cannot be sent as it is
    kNoResources,  // no memory, library setup or thread for the transfer
};
