#include "core/capture/CPacketCapture.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>

#include "core/capture/DatagramExtractor.h"
#include "core/capture/SystemInterfaceTable.h"

namespace {

// Joins pieces into one text; also spares g++ 12 a false -Wrestrict on chained operator+.
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view piece : pieces) {
        text.append(piece);
    }
    return text;
}

// Either port of the TCP header at `offset` (an expression) of protocol `proto` is one of
// `ports`.
std::string portTest(std::string_view proto, std::string_view offset,
                     std::span<const std::uint16_t> ports) {
    std::string test;
    for (std::string_view field : {":2]=", "+2:2]="}) {
        for (std::uint16_t port : ports) {
            test.append(test.empty() ? "(" : " or ");
            test.append(joined({proto, "[", offset, field, std::to_string(port)}));
        }
    }
    return test + ")";
}

// TCP over IPv4 behind the header's options, with a header length and data offset of at least
// 5 words and payload after the TCP header (a total length below 20 is not trusted, as the
// decoder then goes by the captured bytes).
std::string ipv4Clause(const WatchedPorts& ports) {
    constexpr std::string_view tcp = "((ip[0]&0xf)<<2)";
    constexpr std::string_view dataOffset = "ip[((ip[0]&0xf)<<2)+12]";
    return joined({"(ip and ip[9]=6 and (ip[0]&0xf)>=5 and ", portTest("ip", tcp, ports.all()),
                   " and ", dataOffset, ">=0x50 and (ip[2:2]<20 or ip[2:2]>", tcp, "+((",
                   dataOffset, "&0xf0)>>2)))"});
}

// TCP over IPv6: right behind the fixed header (with payload after the TCP header, unless the
// payload length is 0: a jumbogram), behind one hop-by-hop, routing or destination-options
// header, or behind the fragment header of a first fragment. Longer header chains are left to
// the decoder's walk, which a filter without loops cannot do.
std::string ipv6Clause(const WatchedPorts& ports) {
    const std::string direct =
        joined({"(ip6[6]=6 and ", portTest("ip6", "40", ports.all()),
                " and ip6[52]>=0x50 and (ip6[4:2]=0 or ip6[4:2]>((ip6[52]&0xf0)>>2)))"});
    const std::string options = joined({"((ip6[6]=0 or ip6[6]=43 or ip6[6]=60) and ip6[40]=6 and ",
                                        portTest("ip6", "(48+(ip6[41]<<3))", ports.all()), ")"});
    const std::string fragment = joined({"(ip6[6]=44 and ip6[40]=6 and (ip6[42:2]&0xfff8)=0 and ",
                                         portTest("ip6", "48", ports.all()), ")"});
    constexpr std::string_view chain =
        "((ip6[6]=0 or ip6[6]=43 or ip6[6]=60 or ip6[6]=44) and "
        "(ip6[40]=0 or ip6[40]=43 or ip6[40]=60 or ip6[40]=44))";
    return joined({"(ip6 and (", direct, " or ", options, " or ", fragment, " or ", chain, "))"});
}

// Every TCP segment of the TLS ports, handshakes and acknowledgements too: connections are
// followed both ways. And every UDP datagram of those ports: QUIC. IPv6 behind the fixed header,
// one extension header or the fragment header of a first fragment.
std::string tlsClause(const TlsPorts& ports) {
    const std::string ipv4 =
        joined({"(ip and (ip[9]=6 or ip[9]=17) and (ip[0]&0xf)>=5 and (ip[6:2]&0x1fff)=0 and ",
                portTest("ip", "((ip[0]&0xf)<<2)", ports.all()), ")"});
    const std::string ipv6 =
        joined({"(ip6 and (((ip6[6]=6 or ip6[6]=17) and ", portTest("ip6", "40", ports.all()),
                ") or ((ip6[6]=0 or ip6[6]=43 or ip6[6]=60) and (ip6[40]=6 or ip6[40]=17) and ",
                portTest("ip6", "(48+(ip6[41]<<3))", ports.all()),
                ") or (ip6[6]=44 and (ip6[40]=6 or ip6[40]=17) and (ip6[42:2]&0xfff8)=0 and ",
                portTest("ip6", "48", ports.all()), ")))"});
    return joined({ipv4, " or ", ipv6});
}

std::string addressText(const AdapterEntry& adapter) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsIpv6Only(adapter)) {
        ::inet_ntop(AF_INET6, adapter.address6, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET, adapter.address, text, sizeof text);
    }
    return text;
}

std::string activateError(int code, pcap_t* handle, const std::string& name) {
    switch (code) {
        case PCAP_ERROR_PERM_DENIED:
            return "no permission to capture on " + name +
                   " (capture rights belong to the helper quorvex-capture: packages give them "
                   "to the group quorvex with dpkg-reconfigure quorvex-cli, a build from source "
                   "with scripts/grant-capture-rights.sh)";
        case PCAP_ERROR_NO_SUCH_DEVICE:
            return "interface " + name + " does not exist";
        case PCAP_ERROR_IFACE_NOT_UP:
            return "interface " + name + " is down";
        case PCAP_ERROR_PROMISC_PERM_DENIED:
            return "no permission to put " + name + " into promiscuous mode";
        default:
            return "cannot capture on " + name + ": " + pcap_geterr(handle);
    }
}

}  // namespace

std::string CPacketCapture::FilterExpression(int linkType, const WatchedPorts& ports,
                                             const TlsPorts& tlsPorts) {
    const std::string ip = joined(
        {"(", ipv4Clause(ports), " or ", ipv6Clause(ports), " or ", tlsClause(tlsPorts), ")"});
    if (linkType != DatagramExtractor::kEthernet) {
        return ip;  // no VLAN tags there (and libpcap refuses `vlan` on them)
    }
    // Every `vlan` moves the offsets of the rest of the expression by one tag, so the second
    // and third clauses test one and two tags.
    return joined({ip, " or (vlan and ", ip, ") or (vlan and ", ip, ")"});
}

bool CPacketCapture::SetFilter(pcap* handle, std::string& failure) const {
    const int linkType = pcap_datalink(handle);
    const std::string expression = FilterExpression(linkType, ports_, tlsPorts_);
    bpf_program program;
    if (pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        failure = std::string("cannot compile the packet filter: ") + pcap_geterr(handle);
        return false;
    }
    bool set = pcap_setfilter(handle, &program) == 0;
    if (!set) {
        failure = std::string("cannot set the packet filter: ") + pcap_geterr(handle);
    }
    pcap_freecode(&program);
    return set;
}

CPacketCapture::CPacketCapture(PacketReceiver& receiver) : receiver_(receiver) {}

CPacketCapture::~CPacketCapture() {
    Stop();
    if (opened_) {
        opened_ = false;
        CloseHandle();
    }
}

void CPacketCapture::Prepare(std::int8_t receiveAll, const AdapterEntry& adapter,
                             const WatchedPorts& ports) {
    receiveAll_ = receiveAll;
    adapter_ = adapter;
    ports_ = ports;
    stopRequested_ = false;
    packet_ = CapturedPacket{};
    handedOver_ = 0;
    interfaceName_.clear();
    std::lock_guard lock(mutex_);
    status_ = CaptureStatus{CaptureStatus::kOpening, {}, {}};
}

bool CPacketCapture::Start(std::int8_t receiveAll, const AdapterEntry& adapter,
                           const WatchedPorts& ports) {
    if (thread_.joinable() || opened_) {
        return false;
    }
    Prepare(receiveAll, adapter, ports);
    thread_ = std::thread(&CPacketCapture::Run, this);
    return true;
}

bool CPacketCapture::OpenHere(std::int8_t receiveAll, const AdapterEntry& adapter) {
    if (thread_.joinable() || opened_) {
        return false;
    }
    Prepare(receiveAll, adapter, ports_);
    opened_ = Open();
    return opened_;
}

bool CPacketCapture::StartOpened() {
    if (thread_.joinable() || !opened_) {
        return false;
    }
    opened_ = false;
    thread_ = std::thread(&CPacketCapture::Capture, this);
    return true;
}

void CPacketCapture::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopRequested_ = true;
    {
        std::lock_guard lock(mutex_);
        if (handle_) {
            pcap_breakloop(handle_);
        }
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        return;
    }
    thread_.join();
    stopRequested_ = false;
    receiveAll_ = 0;
    adapter_ = AdapterEntry{};
    std::lock_guard lock(mutex_);
    status_ = CaptureStatus{};
}

CaptureStatus CPacketCapture::Status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

CPacketCapture::Statistics CPacketCapture::LastStatistics() const {
    std::lock_guard lock(mutex_);
    return statistics_;
}

void CPacketCapture::ReportStatus(CaptureStatus::State state, const std::string& interfaceName,
                                  const std::string& message) {
    CaptureStatus status{state, interfaceName, message};
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    receiver_.OnCaptureStatus(status);
}

void CPacketCapture::Run() {
    if (Open()) {
        Capture();
    }
}

void CPacketCapture::Capture() {
    if (stopRequested_) {
        CloseHandle();
        return;
    }
    ReportStatus(CaptureStatus::kRunning, interfaceName_, {});
    Loop();
    CloseHandle();
}

bool CPacketCapture::Open() {
    std::string& interfaceName = interfaceName_;
    bool up = false;
    bool found =
        IsIpv6Only(adapter_)
            ? SystemInterfaceTable::FindInterfaceOfIpv6(adapter_.address6, interfaceName, up)
            : SystemInterfaceTable::FindInterfaceOf(adapter_.address, interfaceName, up);
    if (!found) {
        ReportStatus(CaptureStatus::kFailed, {},
                     "no interface holds the address " + addressText(adapter_));
        return false;
    }
    if (!up) {
        ReportStatus(CaptureStatus::kFailed, interfaceName,
                     "interface " + interfaceName + " is down");
        return false;
    }
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(interfaceName.c_str(), error);
    if (!handle) {
        ReportStatus(CaptureStatus::kFailed, interfaceName, error);
        return false;
    }
    pcap_set_snaplen(handle, kSnapLength);
    pcap_set_promisc(handle, receiveAll_ == 1 ? 1 : 0);
    // Not immediate: the kernel then packs frames into large blocks (many more fit its
    // buffer, and one wake-up brings a whole block) and hands a block over when it is full or
    // after kDeliveryMilliseconds.
    pcap_set_immediate_mode(handle, 0);
    pcap_set_timeout(handle, kDeliveryMilliseconds);
    pcap_set_buffer_size(handle, kKernelBufferBytes);
    int activated = pcap_activate(handle);
    std::string failure;
    if (activated < 0) {
        failure = activateError(activated, handle, interfaceName);
    } else if (pcap_setdirection(handle, PCAP_D_INOUT) != 0) {
        failure = "cannot capture both directions on " + interfaceName;
    } else if (!DatagramExtractor::supportsLinkType(pcap_datalink(handle))) {
        failure = "interface " + interfaceName + " has an unsupported link type";
    } else if (!openedHook_ || openedHook_(failure)) {
        SetFilter(handle, failure);
    }
    if (!failure.empty()) {
        pcap_close(handle);
        ReportStatus(CaptureStatus::kFailed, interfaceName, failure);
        return false;
    }
    linkType_ = pcap_datalink(handle);
    std::lock_guard lock(mutex_);
    handle_ = handle;
    return true;
}

void CPacketCapture::Loop() {
    // handle_ changes only on this thread; the mutex guards it against Stop's breakloop.
    // One dispatch takes every packet the kernel has ready, then the receiver hears that the
    // batch ended; a breakloop between two dispatches ends the next one at once.
    int result;
    while ((result = pcap_dispatch(handle_, -1, &CPacketCapture::OnFrame,
                                   reinterpret_cast<unsigned char*>(this))) >= 0) {
        receiver_.OnPacketBatchEnd();
    }
    receiver_.OnPacketBatchEnd();
    if (result == PCAP_ERROR && !stopRequested_) {
        ReportStatus(CaptureStatus::kLost, Status().interfaceName,
                     std::string("capture ended: ") + pcap_geterr(handle_));
    }
}

void CPacketCapture::CloseHandle() {
    pcap_stat counts{};
    bool haveCounts = pcap_stats(handle_, &counts) == 0;
    std::lock_guard lock(mutex_);
    statistics_ = Statistics{};
    if (haveCounts) {
        statistics_.received = counts.ps_recv;
        statistics_.dropped = counts.ps_drop;
    }
    statistics_.handedOver = handedOver_;
    pcap_close(handle_);
    handle_ = nullptr;
}

void CPacketCapture::OnFrame(unsigned char* user, const struct pcap_pkthdr* header,
                             const unsigned char* bytes) {
    auto* self = reinterpret_cast<CPacketCapture*>(user);
    if (header->caplen == 0 ||
        !DatagramExtractor::extract(self->linkType_, bytes, header->caplen, self->packet_)) {
        return;
    }
    ++self->handedOver_;
    self->receiver_.OnCapturedPacket(&self->packet_);
}
