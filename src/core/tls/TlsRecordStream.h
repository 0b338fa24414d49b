#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// One direction's bytes cut into TLS records. Whole records are read straight from the bytes
// given; only a record cut short, or records the reader could not take yet, are copied and held.
//
//   stream.begin(bytes);
//   while (stream.next(record) == TlsRecordStream::Next::Record) { ...; stream.consume(); }
//   stream.end();  // keeps what was not consumed
class TlsRecordStream {
  public:
    static constexpr std::size_t kHeaderLength = 5;
    // Protected records may exceed the 2^14 plaintext bound by up to 2048 bytes.
    static constexpr std::size_t kMaxBody = (1 << 14) + 2048;

    struct Record {
        std::uint8_t type = 0;
        std::uint16_t version = 0;
        std::span<const std::uint8_t> header;  // its 5 bytes, the AAD of TLS 1.3
        std::span<const std::uint8_t> body;
    };

    enum class Next { Record, NeedMore, BadHeader };

    // Starts a pass over the held bytes followed by `bytes`.
    void begin(std::span<const std::uint8_t> bytes);
    // The next whole record; its spans stay valid until consume() or end().
    Next next(Record& record);
    // The record last returned by next() is done with.
    void consume();
    // Ends the pass: what was not consumed is held for the next one.
    void end();

    std::size_t held() const { return held_.size() - heldStart_; }
    // Bytes of this pass's input not yet consumed or held.
    std::size_t unread() const { return input_.size(); }
    void dropHeld();

    static bool validHeader(std::span<const std::uint8_t> header);

  private:
    static std::size_t recordLength(std::span<const std::uint8_t> header);
    void topUp(std::size_t wanted);

    std::vector<std::uint8_t> held_;
    std::size_t heldStart_ = 0;  // bytes before it are consumed
    std::span<const std::uint8_t> input_;
    std::size_t pendingLength_ = 0;  // length of the record next() returned
    bool pendingInHeld_ = false;
};
