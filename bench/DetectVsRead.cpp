// Times `quorvex-cli detect --json` (output to /dev/null) against a bare libpcap read loop
// over the same capture file, in one run, and reports the detect process's peak memory.
//   detect_vs_read QUORVEX_CLI FILE [ROUNDS]
#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CpuTime.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Wall and CPU time of one run. On a busy machine CPU time is the steadier measure.
struct Timing {
    double wall;
    double cpu;
};

// pcap_next_ex over the whole file, nothing done per packet.
Timing readLoop(const char* file, long& packets) {
    char error[PCAP_ERRBUF_SIZE];
    auto start = Clock::now();
    double cpuStart = selfCpuSeconds();
    pcap_t* handle = pcap_open_offline(file, error);
    if (handle == nullptr) {
        std::fprintf(stderr, "%s\n", error);
        std::exit(2);
    }
    pcap_pkthdr* header;
    const u_char* data;
    packets = 0;
    while (pcap_next_ex(handle, &header, &data) == 1) {
        ++packets;
    }
    pcap_close(handle);
    return {seconds(start), selfCpuSeconds() - cpuStart};
}

Timing runDetect(const char* cli, const char* file, long& peakKiB) {
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl(cli, cli, "detect", "--json", "--pcap", file, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    double elapsed = seconds(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "detect failed (status %d)\n", status);
        std::exit(2);
    }
    peakKiB = usage.ru_maxrss;
    return {elapsed, cpuSeconds(usage)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: detect_vs_read QUORVEX_CLI FILE [ROUNDS]\n");
        return 2;
    }
    int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    long packets = 0;
    readLoop(argv[2], packets);  // warms the page cache
    Timing read{1e9, 1e9};
    Timing detect{1e9, 1e9};
    long peak = 0;
    for (int i = 0; i < rounds; ++i) {
        Timing r = readLoop(argv[2], packets);
        read = {std::min(read.wall, r.wall), std::min(read.cpu, r.cpu)};
        long peakKiB = 0;
        Timing d = runDetect(argv[1], argv[2], peakKiB);
        detect = {std::min(detect.wall, d.wall), std::min(detect.cpu, d.cpu)};
        peak = std::max(peak, peakKiB);
    }
    auto perPacket = [&](double s) { return s * 1e9 / static_cast<double>(packets); };
    std::printf("%s: %ld packets, best of %d\n", argv[2], packets, rounds);
    std::printf("  read loop  wall %.3f s (%.0f ns/packet)  cpu %.3f s (%.0f ns/packet)\n",
                read.wall, perPacket(read.wall), read.cpu, perPacket(read.cpu));
    std::printf("  detect     wall %.3f s (%.0f ns/packet)  cpu %.3f s (%.0f ns/packet)\n",
                detect.wall, perPacket(detect.wall), detect.cpu, perPacket(detect.cpu));
    std::printf("  ratio      wall %.2fx  cpu %.2fx\n", detect.wall / read.wall,
                detect.cpu / read.cpu);
    std::printf("  detect peak memory %.1f MiB\n", static_cast<double>(peak) / 1024.0);
    return 0;
}
