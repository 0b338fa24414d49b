// Feeds arbitrary file contents to the reading of saved stream lists: the sniffing, the JSON
// line and CSV readers, and a written record read back must give the same line again.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/store/StreamJsonLine.h"
#include "core/store/StreamListFile.h"
#include "core/store/StreamListReader.h"

namespace {

void checkTexts(const DetectedStream& r) {
    if (std::memchr(r.host, 0, sizeof r.host) == nullptr ||
        std::memchr(r.path, 0, sizeof r.path) == nullptr ||
        std::memchr(r.query, 0, sizeof r.query) == nullptr ||
        std::memchr(r.userAgent, 0, sizeof r.userAgent) == nullptr) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    StreamListFile::sniffBytes(bytes);
    DetectedStream record;
    std::string error;
    if (StreamJsonLine::parse(bytes, record, error)) {
        checkTexts(record);
        const std::string line = StreamJsonLine::line(record);
        DetectedStream again;
        if (!StreamJsonLine::parse(line, again, error) || StreamJsonLine::line(again) != line) {
            __builtin_trap();
        }
    }
    const int fd = ::memfd_create("list", 0);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (auto kind : {StreamListFile::Kind::JsonLines, StreamListFile::Kind::Csv}) {
        StreamListReader reader;
        if (!reader.open(path, kind)) {
            continue;
        }
        for (int i = 0; i <= static_cast<int>(size); ++i) {
            const auto status = reader.next(record);
            if (status == StreamListReader::Status::Record) {
                checkTexts(record);
            } else if (status != StreamListReader::Status::Skipped) {
                break;
            }
        }
    }
    ::close(fd);
    return 0;
}
