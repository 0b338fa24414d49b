// Sends every frame of a classic pcap file out of one network interface as fast as the
// kernel takes them: AF_PACKET, past the queueing layer, many frames per sendmmsg call. The
// file is mapped, not copied, so a capture of any size costs no memory of its own. For the
// live-capture bench only: it runs inside a network namespace that the bench script made,
// on one end of that namespace's veth pair.
//   frame_sender INTERFACE FILE [ROUNDS [PACKETS_PER_SECOND]]   (a rate of 0: as fast as it goes)
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr std::uint32_t kMagicNano = 0xA1B23C4D;
constexpr std::size_t kFileHeader = 24;
constexpr std::size_t kRecordHeader = 16;
constexpr std::uint32_t kLinkEthernet = 1;
constexpr std::size_t kBatch = 512;
constexpr std::uint32_t kLargestFrame = 65535;

std::uint32_t swapped(std::uint32_t v) {
    return __builtin_bswap32(v);
}

// The frames of a mapped pcap file, in order; empty when the file is not an Ethernet pcap.
std::vector<iovec> framesOf(const std::uint8_t* file, std::size_t size) {
    std::vector<iovec> frames;
    if (size < kFileHeader) {
        return frames;
    }
    std::uint32_t magic;
    std::memcpy(&magic, file, 4);
    bool swap = magic == swapped(kMagicMicro) || magic == swapped(kMagicNano);
    if (!swap && magic != kMagicMicro && magic != kMagicNano) {
        return frames;
    }
    auto field = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, file + at, 4);
        return swap ? swapped(v) : v;
    };
    if (field(20) != kLinkEthernet) {
        return frames;
    }
    for (std::size_t at = kFileHeader; at + kRecordHeader <= size;) {
        std::uint32_t length = field(at + 8);
        at += kRecordHeader;
        if (length > kLargestFrame || length > size - at) {
            break;  // a cut last record
        }
        frames.push_back({const_cast<std::uint8_t*>(file + at), length});
        at += length;
    }
    return frames;
}

int openSocket(const char* interfaceName) {
    int fd = socket(AF_PACKET, SOCK_RAW, 0);  // protocol 0: sends only, receives nothing
    if (fd < 0) {
        std::perror("socket(AF_PACKET)");
        std::exit(2);
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(if_nametoindex(interfaceName));
    if (address.sll_ifindex == 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "cannot use interface %s: %s\n", interfaceName, std::strerror(errno));
        std::exit(2);
    }
    int on = 1;
    // Straight to the device: veth has no queue worth passing through.
    setsockopt(fd, SOL_PACKET, PACKET_QDISC_BYPASS, &on, sizeof on);
    int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer);
    return fd;
}

// Holds the sender to a rate: before each batch it waits until the frames sent so far are due.
class Pacer {
  public:
    explicit Pacer(double packetsPerSecond) : rate_(packetsPerSecond) {}
    void waitFor(std::size_t sentBefore) const {
        if (rate_ > 0) {
            std::this_thread::sleep_until(
                start_ +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(static_cast<double>(sentBefore) / rate_)));
        }
    }

  private:
    double rate_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Sends all frames once; returns how many went out.
std::size_t sendAll(int fd, std::vector<iovec>& frames, const Pacer& pacer, std::size_t before) {
    std::vector<mmsghdr> messages(kBatch);
    std::size_t sent = 0;
    while (sent < frames.size()) {
        pacer.waitFor(before + sent);
        std::size_t batch = std::min(kBatch, frames.size() - sent);
        for (std::size_t i = 0; i < batch; ++i) {
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &frames[sent + i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        int done = sendmmsg(fd, messages.data(), static_cast<unsigned>(batch), 0);
        if (done < 0) {
            if (errno == EINTR || errno == ENOBUFS || errno == EAGAIN) {
                continue;  // the device is busy: the same frames again
            }
            std::perror("sendmmsg");
            break;
        }
        sent += static_cast<std::size_t>(done);
    }
    return sent;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: frame_sender INTERFACE FILE [ROUNDS [PACKETS_PER_SECOND]]\n");
        return 2;
    }
    int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    double rate = argc > 4 ? std::max(0.0, std::atof(argv[4])) : 0.0;
    int file = open(argv[2], O_RDONLY);
    struct stat info {};
    if (file < 0 || fstat(file, &info) != 0) {
        std::perror(argv[2]);
        return 2;
    }
    auto size = static_cast<std::size_t>(info.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file, 0);
    if (mapped == MAP_FAILED) {
        std::perror("mmap");
        return 2;
    }
    std::vector<iovec> frames = framesOf(static_cast<const std::uint8_t*>(mapped), size);
    if (frames.empty()) {
        std::fprintf(stderr, "%s: not an Ethernet pcap file with frames\n", argv[2]);
        return 2;
    }
    int fd = openSocket(argv[1]);
    auto start = std::chrono::steady_clock::now();
    const Pacer pacer(rate);
    std::size_t sent = 0;
    for (int round = 0; round < rounds; ++round) {
        sent += sendAll(fd, frames, pacer, sent);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sent %zu frames in %.3f s: %.0f packets/s\n", sent, seconds,
                static_cast<double>(sent) / seconds);
    close(fd);
    munmap(mapped, size);
    close(file);
    return sent == frames.size() * static_cast<std::size_t>(rounds) ? 0 : 1;
}
