// Downloads a large generated ASF file from the loopback MMS test server with CMmsDownload and
// compares the throughput with `cat FILE > /dev/null` of the same file (the floor), in one run.
// Peak memory is the process's resident high-water mark during the download only.
//
//   mms_download_bench [MEGABYTES] [PACKET_SIZE]      (defaults: 128 and 8000)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "AsfFixture.h"
#include "CpuTime.h"
#include "MmsTestServer.h"
#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/mms/CMmsDownload.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

class WaitingHost : public DownloadHost {
  public:
    void showMessage(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool askLogin(const LoginRequest&, Credentials&) override { return false; }
    void downloadEnded(DetectedStream*, const DownloadOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        outcome_ = outcome;
        ended_ = true;
        changed_.notify_all();
    }
    DownloadOutcome Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ended_; });
        return outcome_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    DownloadOutcome outcome_;
};

long StatusKilobytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return -1;
}

// Resets the resident high-water mark to the current resident size.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Generated {
    std::string path;
    std::uint64_t headerSize;
    std::uint64_t packetCount;
    std::uint64_t fileSize;
};

Generated Generate(const std::string& path, std::uint64_t megabytes, std::uint32_t packetSize) {
    AsfFixture fixture;
    fixture.packetSize = packetSize;
    fixture.packetCount = static_cast<std::uint32_t>((megabytes << 20) / packetSize);
    fixture.streamFlags = {0x0001, 0x0002};
    std::uint32_t count = fixture.packetCount;
    fixture.packetCount = 0;  // the packets are written below, not kept in memory
    fixture.Build();
    auto dataHeader = AsfFixture::DataObjectHeader(count, packetSize);
    std::vector<std::uint8_t> header(fixture.header.begin(), fixture.header.end() - 50);
    header.insert(header.end(), dataHeader.begin(), dataHeader.end());
    const std::uint64_t total = header.size() + std::uint64_t{count} * packetSize;
    AsfFixture::Set64(header, 30 + 40, total);
    AsfFixture::Set64(header, 30 + 56, count);

    std::FILE* out = std::fopen(path.c_str(), "wb");
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    std::fwrite(header.data(), 1, header.size(), out);
    // A few distinct packets repeated keep generation fast; content does not matter here.
    std::vector<std::vector<std::uint8_t>> samples;
    for (std::uint32_t i = 0; i < 16; ++i) {
        samples.push_back(AsfFixture::Packet(i, packetSize));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::fwrite(samples[i % samples.size()].data(), 1, packetSize, out);
    }
    std::fclose(out);
    return {path, header.size(), count, total};
}

double catCpu = 0;  // CPU seconds of the last cat

double CatSeconds(const std::string& path, const char* output = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char cat[] = "cat";
    std::vector<char> file(path.begin(), path.end());
    file.push_back('\0');
    char* argv[] = {cat, file.data(), nullptr};
    auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) != 0) {
        return -1;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    catCpu = cpuSeconds(usage);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool SameFiles(const std::string& a, const std::string& b) {
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    while (left && right) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() ||
            std::memcmp(x.data(), y.data(), static_cast<std::size_t>(left.gcount())) != 0) {
            return false;
        }
    }
    return !left && !right;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 128;
    const auto packetSize =
        static_cast<std::uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 8000);
    auto directory =
        std::filesystem::temp_directory_path() / ("mms-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const std::string source = (directory / "source.asf").string();
    const std::string target = (directory / "download.asf").string();

    Generated generated = Generate(source, megabytes, packetSize);
    CatSeconds(source);  // warm the page cache
    double catSeconds = CatSeconds(source);
    const double catCpuSeconds = catCpu;
    // Not the floor, but it shows what writing the output file alone costs on this machine.
    const std::string copy = (directory / "copy.asf").string();
    double copySeconds = CatSeconds(source, copy.c_str());
    std::filesystem::remove(copy);

    MmsTestServer::Script script;
    {
        std::ifstream in(source, std::ios::binary);
        script.header.resize(generated.headerSize);
        in.read(reinterpret_cast<char*>(script.header.data()),
                static_cast<std::streamsize>(generated.headerSize));
    }
    script.headerChunks = 1;
    script.packetFile = source;
    script.packetFileOffset = generated.headerSize;
    script.filePacketSize = packetSize;
    script.filePacketCount = generated.packetCount;
    MmsTestServer server(script, 600);

    DetectedStream record{};
    std::snprintf(record.host, sizeof record.host, "mms://127.0.0.1:%u", server.port());
    std::snprintf(record.path, sizeof record.path, "/bench.asf");
    record.state = kStateDownloading;
    WaitingHost host;

    const long rssBefore = StatusKilobytes("VmRSS:");
    ResetPeak();
    auto start = Clock::now();
    const double cpuBefore = selfCpuSeconds();
    DownloadOutcome outcome;
    {
        CMmsDownload download(host);
        if (download.Start(&record, record.path, target) == StartResult::kStarted) {
            outcome = host.Wait();
        }
    }
    double mmsSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double mmsCpuSeconds = selfCpuSeconds() - cpuBefore;
    server.Commands();  // the session is over: its CPU time is known
    const double serverCpuSeconds = server.cpuSeconds();
    const long peak = StatusKilobytes("VmHWM:");

    const bool same = SameFiles(source, target);
    const double mb = static_cast<double>(generated.fileSize) / (1 << 20);
    std::printf("file           %.1f MiB, packet size %u, %llu packets\n", mb, packetSize,
                static_cast<unsigned long long>(generated.packetCount));
    std::printf("cat > /dev/null %8.3f s  %8.1f MiB/s  (floor)\n", catSeconds, mb / catSeconds);
    std::printf("cat > FILE      %8.3f s  %8.1f MiB/s  (writing a copy to disk)\n", copySeconds,
                mb / copySeconds);
    std::printf("mms download    %8.3f s  %8.1f MiB/s  (%.2fx the floor's time)\n", mmsSeconds,
                mb / mmsSeconds, mmsSeconds / catSeconds);
    std::printf("cpu time        cat %.3f s; mms client %.3f s (test server %.3f s more)\n",
                catCpuSeconds, mmsCpuSeconds - serverCpuSeconds, serverCpuSeconds);
    std::printf("memory          RSS before %ld KiB, peak during download %ld KiB (+%ld KiB)\n",
                rssBefore, peak, peak - rssBefore);
    std::printf("result          %s%s%s, state %d, output %s the source\n",
                outcome.completed() ? "completed" : "not completed",
                outcome.detail.empty() ? "" : ": ", outcome.detail.c_str(),
                LoadDownloadState(record), same ? "identical to" : "DIFFERENT from");
    std::filesystem::remove_all(directory);
    return same && outcome.completed() ? 0 : 1;
}
