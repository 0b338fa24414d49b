#pragma once

#include <cstdint>
#include <vector>

// A small but well-formed ASF file made in memory: header object, File Properties Object,
// one Stream Properties Object per stream, the Data Object's header, then fixed-size packets
// whose last quarter is zero fill (so a server can leave it out).
struct AsfFixture {
    std::uint32_t packetSize = 3200;
    std::uint32_t packetCount = 12;
    std::vector<std::uint16_t> streamFlags = {0x0001, 0x0002};
    // Stored in the File Properties Object; 0 means "the real size".
    std::uint64_t fileSizeField = 0;

    std::vector<std::uint8_t> header;                // up to and including the Data Object header
    std::vector<std::vector<std::uint8_t>> packets;  // each packetSize bytes

    void Build();
    std::vector<std::uint8_t> WholeFile() const;

    // Pieces for hand-made malformed headers.
    static std::vector<std::uint8_t> HeaderObject(std::uint64_t size, std::uint32_t children);
    static std::vector<std::uint8_t> FileProperties(std::uint64_t fileSize,
                                                    std::uint32_t packetSize);
    static std::vector<std::uint8_t> StreamProperties(std::uint16_t flags);
    static std::vector<std::uint8_t> DataObjectHeader(std::uint64_t packetCount,
                                                      std::uint32_t packetSize);
    static std::vector<std::uint8_t> Packet(std::uint32_t index, std::uint32_t packetSize);

    static void Put16(std::vector<std::uint8_t>& out, std::uint16_t value);
    static void Put32(std::vector<std::uint8_t>& out, std::uint32_t value);
    static void Put64(std::vector<std::uint8_t>& out, std::uint64_t value);
    static void Set64(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value);
};
