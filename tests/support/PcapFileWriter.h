#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes classic pcap files (microsecond timestamps, little-endian) for tests and benchmarks.
class PcapFileWriter {
  public:
    PcapFileWriter(const std::string& path, std::uint32_t linkType,
                   std::uint32_t snapLength = 262144)
        : file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) {
            return;
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
        std::uint32_t magic = 0xA1B2C3D4;
        std::uint16_t major = 2;
        std::uint16_t minor = 4;
        std::uint32_t zero = 0;
        write(&magic, 4);
        write(&major, 2);
        write(&minor, 2);
        write(&zero, 4);
        write(&zero, 4);
        write(&snapLength, 4);
        write(&linkType, 4);
    }
    ~PcapFileWriter() { close(); }
    PcapFileWriter(const PcapFileWriter&) = delete;
    PcapFileWriter& operator=(const PcapFileWriter&) = delete;

    bool ok() const { return file_ != nullptr; }

    // One frame; `originalLength` 0 means the frame was captured whole.
    void add(const std::uint8_t* frame, std::uint32_t length, std::uint32_t originalLength = 0) {
        std::uint32_t seconds = 1700000000 + count_ / 1000;
        std::uint32_t micros = (count_ % 1000) * 1000;
        std::uint32_t original = originalLength != 0 ? originalLength : length;
        write(&seconds, 4);
        write(&micros, 4);
        write(&length, 4);
        write(&original, 4);
        write(frame, length);
        ++count_;
    }
    void add(const std::vector<std::uint8_t>& frame) {
        add(frame.data(), static_cast<std::uint32_t>(frame.size()));
    }

    bool close() {
        if (file_ == nullptr) {
            return false;
        }
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

  private:
    void write(const void* data, std::size_t size) { std::fwrite(data, 1, size, file_); }

    std::FILE* file_;
    std::uint32_t count_ = 0;
};
