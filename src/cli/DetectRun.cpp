#include "cli/DetectRun.h"

#include <span>

#include "cli/CliArgs.h"
#include "cli/DetectInput.h"
#include "cli/DroppedStreams.h"
#include "core/detect/StreamDecoder.h"
#include "core/session/SharedFileDecoding.h"

namespace {

// Packets per batch read ahead: large enough that handing a batch over costs little per
// packet, small enough that the batches in flight stay in the caches.
constexpr std::size_t kReadAheadBatch = 64;

}  // namespace

DetectRun::DetectRun(const CliArgs& args, const DetectOptions& options, DetectInput& input)
    : args_(args),
      options_(options),
      reader_(input.reader()),
      printer_(options.format, stdout, true) {
    setUpSession(input);
}

void DetectRun::setUpSession(DetectInput& input) {
    session_.setSuffixTable(input.suffixes());
    session_.setWatchedPorts(options_.ports);
    session_.setTlsPorts(options_.tlsPorts);
    session_.setKeyLog(input.keys());
    // TLS connections are read in file order on the reading thread; frames the decoder would
    // reject at once are not even copied.
    reader_.setFilter([&ports = options_.ports, &session = session_](const std::uint8_t* datagram,
                                                                     std::uint32_t length) {
        return !session.readSecure(datagram, length, 0) &&
               StreamDecoder::worthDecoding(datagram, length, ports);
    });
    session_.setCookieReuse(options_.cookieReuse);
    if (options_.maxStreams) {
        session_.setRowLimit(static_cast<int>(*options_.maxStreams));
    }
}

int DetectRun::run() {
    const int status = options_.fromStandardInput() ? readStandardInput() : readFileAhead();
    return status != 0 ? status : finish();
}

int DetectRun::readFileAhead() {
    // A file is read on a second thread ahead of the list and the output. Not standard input:
    // a read from a pipe may wait for ever, and so would the end of the reading thread.
    SharedFileDecoding decoding(session_, kReadAheadBatch);
    // A JSON line is written straight from the packed detection this thread has at hand
    // anyway; the other forms need the full record, which is made on the reading thread.
    if (options_.format != StreamPrinter::Format::Json) {
        decoding.setLineMaker(
            [format = options_.format](const StreamFields& stream, std::string& out) {
                StreamPrinter::appendLine(out, stream, format);
            },
            options_.all);
    }
    CaptureFileReadAhead ahead(reader_, kReadAheadBatch, decoding.preparation());
    for (bool more = true; more;) {
        const CaptureFileReadAhead::Batch& batch = ahead.next();
        session_.addDecoded(decoding.decodeRest(batch, ahead.readyAtLastTake()), detections_);
        if (!printMadeAhead(decoding, batch) || !printSecure()) {
            return failWriting();
        }
        if (batch.status == CaptureFileReader::Status::Error) {
            return failReading(batch.error.empty() ? "cannot read" : batch.error);
        }
        more = batch.status == CaptureFileReader::Status::Packet;
    }
    return 0;
}

int DetectRun::readStandardInput() {
    std::vector<CapturedPacket> packets(MonitorSession::kFeedBatch);
    for (bool more = true; more;) {
        std::size_t read = 0;
        const auto status = reader_.nextBatch(packets, read);
        more = status == CaptureFileReader::Status::Packet;
        session_.feed(std::span(packets.data(), read), detections_);
        if (!printEach(detections_) || !printSecure()) {
            return failWriting();
        }
        if (status == CaptureFileReader::Status::Error) {
            return failReading(reader_.error());
        }
    }
    return 0;
}

int DetectRun::finish() {
    session_.finishSecure();
    if (!printSecure() || !printer_.flush()) {
        return failWriting();
    }
    printDroppedStreams("detect", session_);
    printUnreadConnections("detect", session_.secureSummary());
    return 0;
}

bool DetectRun::printEach(const std::vector<MonitorSession::Detection>& detections) {
    for (const MonitorSession::Detection& detection : detections) {
        if (printed(detection) && !printer_.print(detection.packed->fields())) {
            return false;
        }
    }
    return true;
}

bool DetectRun::printMadeAhead(SharedFileDecoding& decoding,
                               const CaptureFileReadAhead::Batch& batch) {
    std::size_t added = 0;
    for (std::size_t i = 0; i < detections_.size(); ++i) {
        const MonitorSession::Detection& detection = detections_[i];
        added += detection.added ? 1 : 0;
        if (!printed(detection)) {
            continue;
        }
        const std::string_view made = decoding.madeLine(batch, i);
        if (!(made.empty() ? printer_.print(detection.packed->fields())
                           : printer_.printMade(made))) {
            return false;
        }
    }
    decoding.noteAdded(added, detections_.size());
    return true;
}

bool DetectRun::printSecure() {
    secureDetections_.clear();
    session_.addSecureFound(secureDetections_);
    return printEach(secureDetections_);
}

int DetectRun::failWriting() const {
    return args_.fail("cannot write the output");
}

int DetectRun::failReading(const std::string& error) {
    // What was found before the damage is printed before it is told.
    printer_.flush();
    return args_.fail(options_.inputName + ": " + error);
}
