#include "core/store/StreamListReader.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/store/StreamCsvRow.h"
#include "core/store/StreamJsonLine.h"
#include "core/store/Utf8Sequence.h"

namespace {

constexpr std::size_t kReadChunk = 1 << 16;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

StreamListReader::StreamListReader() : file_(nullptr, &std::fclose) {}

StreamListReader::~StreamListReader() = default;

bool StreamListReader::open(const std::string& path, StreamListFile::Kind kind) {
    using Kind = StreamListFile::Kind;
    if (kind != Kind::JsonLines && kind != Kind::Csv && kind != Kind::Empty) {
        error_ = "一覧のファイルではありません";
        return false;
    }
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) {
        error_ = std::strerror(errno);
        return false;
    }
    kind_ = kind;
    buffer_.resize(kReadChunk);
    bufferEnd_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
    // A byte order mark some editors put first is no part of the first record.
    if (std::string_view(buffer_.data(), bufferEnd_).starts_with(kByteOrderMark)) {
        bufferPos_ = kByteOrderMark.size();
        bytesRead_ = bufferPos_;
    }
    return true;
}

int StreamListReader::get() {
    if (bufferPos_ == bufferEnd_) {
        bufferEnd_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
        bufferPos_ = 0;
        if (bufferEnd_ == 0) {
            readFailed_ = std::ferror(file_.get()) != 0;
            return -1;
        }
    }
    ++bytesRead_;
    return static_cast<unsigned char>(buffer_[bufferPos_++]);
}

StreamListReader::Status StreamListReader::next(DetectedStream& out) {
    if (!file_) {
        return Status::Error;
    }
    const Status status = kind_ == StreamListFile::Kind::Csv ? nextCsv(out) : nextJson(out);
    if (readFailed_) {
        error_ = std::strerror(EIO);
        return Status::Error;
    }
    return status;
}

StreamListReader::Status StreamListReader::nextJson(DetectedStream& out) {
    for (;;) {
        record_.clear();
        recordLine_ = nextLine_;
        bool tooLong = false;
        int c;
        while ((c = get()) >= 0 && c != '\n') {
            if (record_.size() < StreamListFile::kMaxRecordBytes) {
                record_ += static_cast<char>(c);
            } else {
                tooLong = true;
            }
        }
        if (c < 0 && record_.empty() && !tooLong) {
            return Status::End;
        }
        ++nextLine_;
        if (tooLong) {
            error_ = "行が長すぎます";
            return Status::Skipped;
        }
        // Blank lines (an editor's last line break) are no records.
        if (record_.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        return StreamJsonLine::parse(record_, out, error_) ? Status::Record : Status::Skipped;
    }
}

bool StreamListReader::readCsvRecord(bool& atEnd) {
    fields_.assign(1, std::string());
    error_.clear();
    std::size_t size = 0;
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the current field has had its closing quote
    bool fault = false;
    atEnd = false;
    for (;;) {
        const int c = get();
        if (c < 0) {
            atEnd = size == 0;
            if (!fields_.back().empty() && fields_.back().back() == '\r' && !wasQuoted) {
                fields_.back().pop_back();
            }
            return !quoted && !fault;
        }
        if (++size > StreamListFile::kMaxRecordBytes && !fault) {
            error_ = "レコードが長すぎます";
            fault = true;
        }
        if (c == '\n') {
            ++nextLine_;
        }
        if (fault) {
            // Skip to the end of the line; quotes of a record this long are not trusted.
            if (c == '\n') {
                return false;
            }
            continue;
        }
        std::string& field = fields_.back();
        if (quoted) {
            if (c == '"') {
                quoted = false;
                wasQuoted = true;
            } else {
                field += static_cast<char>(c);
            }
            continue;
        }
        if (c == '"') {
            if (wasQuoted) {
                field += '"';  // a doubled quote
                quoted = true;
            } else if (field.empty()) {
                quoted = true;
            } else {
                error_ = "引用符の位置が正しくありません";
                fault = true;
            }
            continue;
        }
        if (c == ',') {
            fields_.emplace_back();
            wasQuoted = false;
            continue;
        }
        if (c == '\n') {
            if (!field.empty() && field.back() == '\r' && !wasQuoted) {
                field.pop_back();
            }
            return true;
        }
        if (wasQuoted && c != '\r') {
            error_ = "引用符の後に余分な文字があります";
            fault = true;
            continue;
        }
        if (!wasQuoted) {
            field += static_cast<char>(c);
        }
    }
}

StreamListReader::Status StreamListReader::nextCsv(DetectedStream& out) {
    for (;;) {
        recordLine_ = nextLine_;
        bool atEnd = false;
        const bool whole = readCsvRecord(atEnd);
        if (atEnd) {
            return Status::End;
        }
        if (!whole) {
            if (error_.empty()) {
                error_ = "引用符が閉じていません";
            }
            return Status::Skipped;
        }
        if (fields_.size() == 1 && fields_[0].empty()) {
            continue;  // a blank line
        }
        // The header line: ours was checked when the file was sniffed.
        if (recordLine_ == 1) {
            continue;
        }
        for (const std::string& field : fields_) {
            if (!isUtf8(field)) {
                error_ = "UTF-8 ではない文字があります";
                return Status::Skipped;
            }
        }
        return StreamCsvRow::parse(fields_, out, error_) ? Status::Record : Status::Skipped;
    }
}
