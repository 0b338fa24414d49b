#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/store/StreamListFile.h"

// Reads a saved list (JSON lines or CSV) record by record. The file is untrusted: memory stays
// bounded by StreamListFile::kMaxRecordBytes whatever it holds, and a record that is not one
// of ours is skipped with the number of the line it starts on and why.
class StreamListReader {
  public:
    enum class Status { Record, Skipped, End, Error };

    StreamListReader();
    ~StreamListReader();
    StreamListReader(const StreamListReader&) = delete;
    StreamListReader& operator=(const StreamListReader&) = delete;

    // Opens `path` holding `kind` (JsonLines, Csv or Empty); false with error() otherwise.
    bool open(const std::string& path, StreamListFile::Kind kind);

    // Record: `out` holds the next record. Skipped: the record starting on line() was
    // refused for error(). End: no more. Error: the file could not be read (error()).
    Status next(DetectedStream& out);

    // The line the last record started on (1 for the first line of the file).
    std::uint64_t line() const { return recordLine_; }
    std::uint64_t bytesRead() const { return bytesRead_; }
    const std::string& error() const { return error_; }

  private:
    // The next byte, or -1 at the end (or on a read error, then readFailed_).
    int get();
    Status nextJson(DetectedStream& out);
    Status nextCsv(DetectedStream& out);
    // Reads one CSV record's fields; false when it was too long or badly quoted.
    bool readCsvRecord(bool& atEnd);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
    StreamListFile::Kind kind_ = StreamListFile::Kind::Unknown;
    std::vector<char> buffer_;
    std::size_t bufferPos_ = 0;
    std::size_t bufferEnd_ = 0;
    bool readFailed_ = false;
    std::uint64_t bytesRead_ = 0;
    std::uint64_t nextLine_ = 1;
    std::uint64_t recordLine_ = 0;
    std::string record_;
    std::vector<std::string> fields_;
    std::string error_;
};
