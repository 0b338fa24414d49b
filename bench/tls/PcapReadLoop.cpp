// The bare read loop that `detect` is set against: pcap_next_ex over the whole file, nothing
// done per packet (as detect_vs_read times it), as a program of its own so that the bench
// script measures it the same way as the tools.
//   pcap_read_loop FILE
#include <pcap/pcap.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pcap_read_loop FILE\n");
        return 2;
    }
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(argv[1], error);
    if (handle == nullptr) {
        std::fprintf(stderr, "%s\n", error);
        return 2;
    }
    pcap_pkthdr* header;
    const u_char* data;
    unsigned long long packets = 0;
    int status;
    while ((status = pcap_next_ex(handle, &header, &data)) == 1) {
        ++packets;
    }
    if (status == PCAP_ERROR) {
        std::fprintf(stderr, "%s\n", pcap_geterr(handle));
    }
    pcap_close(handle);
    std::printf("%llu packets\n", packets);
    return status == PCAP_ERROR_BREAK ? 0 : 1;
}
