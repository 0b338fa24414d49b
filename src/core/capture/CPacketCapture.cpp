#include "core/capture/CPacketCapture.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <cstring>

#include "core/capture/DatagramExtractor.h"
#include "core/capture/SystemInterfaceTable.h"

namespace {

// Ports at datagram offsets 20 and 22, read as the detector reads them.
#define QVX_PORT_TEST                                                              \
    "ip[9]=6 and (ip[20:2]=80 or ip[20:2]=1755 or ip[20:2]=554 or ip[22:2]=80 or " \
    "ip[22:2]=1755 or ip[22:2]=554)"

// Every `vlan` moves the offsets of the rest of the expression by one tag, so the second and
// third clauses test one and two tags.
constexpr char kEthernetFilter[] = "(ip and " QVX_PORT_TEST ") or (vlan and ip and " QVX_PORT_TEST
                                   ") or (vlan and ip and " QVX_PORT_TEST ")";
// Other link types carry no VLAN tags (and libpcap refuses `vlan` on them).
constexpr char kPlainFilter[] = "ip and " QVX_PORT_TEST;

#undef QVX_PORT_TEST

std::string addressText(const std::uint8_t* address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, address, text, sizeof text);
    return text;
}

std::string activateError(int code, pcap_t* handle, const std::string& name) {
    switch (code) {
        case PCAP_ERROR_PERM_DENIED:
            return "no permission to capture on " + name +
                   " (run as root, or give the program cap_net_raw,cap_net_admin)";
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

const char* CPacketCapture::FilterExpression(int linkType) {
    return linkType == DatagramExtractor::kEthernet ? kEthernetFilter : kPlainFilter;
}

void CPacketCapture::SetFilterExpressions(std::string ethernet, std::string plain) {
    ethernetFilter_ = std::move(ethernet);
    plainFilter_ = std::move(plain);
}

bool CPacketCapture::SetFilter(pcap* handle, std::string& failure) const {
    const int linkType = pcap_datalink(handle);
    const std::string& given =
        linkType == DatagramExtractor::kEthernet ? ethernetFilter_ : plainFilter_;
    const char* expression = given.empty() ? FilterExpression(linkType) : given.c_str();
    bpf_program program;
    if (pcap_compile(handle, &program, expression, 1, PCAP_NETMASK_UNKNOWN) != 0) {
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

void CPacketCapture::Prepare(std::int8_t receiveAll, const AdapterEntry& adapter) {
    receiveAll_ = receiveAll;
    adapter_ = adapter;
    stopRequested_ = false;
    packet_ = CapturedPacket{};
    handedOver_ = 0;
    interfaceName_.clear();
    std::lock_guard lock(mutex_);
    status_ = CaptureStatus{CaptureStatus::kOpening, {}, {}};
}

bool CPacketCapture::Start(std::int8_t receiveAll, const AdapterEntry& adapter) {
    if (thread_.joinable() || opened_) {
        return false;
    }
    Prepare(receiveAll, adapter);
    thread_ = std::thread(&CPacketCapture::Run, this);
    return true;
}

bool CPacketCapture::OpenHere(std::int8_t receiveAll, const AdapterEntry& adapter) {
    if (thread_.joinable() || opened_) {
        return false;
    }
    Prepare(receiveAll, adapter);
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
    if (!SystemInterfaceTable::FindInterfaceOf(adapter_.address, interfaceName, up)) {
        ReportStatus(CaptureStatus::kFailed, {},
                     "no interface holds the address " + addressText(adapter_.address));
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
    pcap_set_immediate_mode(handle, 1);
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
    int result =
        pcap_loop(handle_, -1, &CPacketCapture::OnFrame, reinterpret_cast<unsigned char*>(this));
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
