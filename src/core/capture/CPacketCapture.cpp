#include "core/capture/CPacketCapture.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>

#include "core/capture/CaptureFilter.h"
#include "core/capture/DatagramExtractor.h"
#include "core/capture/SystemInterfaceTable.h"

namespace {

std::string addressText(const AdapterEntry& adapter) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsIpv6Only(adapter)) {
        ::inet_ntop(AF_INET6, adapter.address6, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET, adapter.address, text, sizeof text);
    }
    return text;
}

using Cause = CaptureStatus::Cause;

Cause causeOfActivateError(int code) {
    switch (code) {
        case PCAP_ERROR_PERM_DENIED:
            return Cause::kNoRights;
        case PCAP_ERROR_NO_SUCH_DEVICE:
            return Cause::kAdapterMissing;
        case PCAP_ERROR_IFACE_NOT_UP:
            return Cause::kAdapterDown;
        case PCAP_ERROR_PROMISC_PERM_DENIED:
            return Cause::kNoPromiscuousRights;
        default:
            return Cause::kUnknown;
    }
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

bool CPacketCapture::SetFilter(pcap* handle, std::string& failure) {
    CaptureFilter::Programs programs;
    if (!CaptureFilter::compile(handle, ports_, tlsPorts_, programs, failure)) {
        return false;
    }
    userlandFilter_ = std::move(programs.userland);
    bpf_program program{static_cast<unsigned>(programs.kernel.size()), programs.kernel.data()};
    if (pcap_setfilter(handle, &program) != 0) {
        failure = std::string("cannot set the packet filter: ") + pcap_geterr(handle);
        return false;
    }
    return true;
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
    statisticsWanted_ = false;
    countsBehind_ = false;
    packet_ = CapturedPacket{};
    handedOver_ = 0;
    interfaceName_.clear();
    std::lock_guard lock(mutex_);
    status_ = CaptureStatus{CaptureStatus::kOpening, {}, {}};
    statistics_ = Statistics{};
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

// The counts are taken on the capture thread, which alone uses the handle: a break wakes it
// from its wait, and the loop goes on once they are taken.
void CPacketCapture::RequestStatistics() {
    if (!countsBehind_.load(std::memory_order_relaxed)) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (handle_ != nullptr && !statisticsWanted_.exchange(true)) {
        pcap_breakloop(handle_);
    }
}

void CPacketCapture::ReportStatus(CaptureStatus::State state, const std::string& interfaceName,
                                  const std::string& message, CaptureStatus::Cause cause) {
    CaptureStatus status{state, interfaceName, message, cause};
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
                     "no interface holds the address " + addressText(adapter_),
                     Cause::kNoAdapterWithAddress);
        return false;
    }
    if (!up) {
        ReportStatus(CaptureStatus::kFailed, interfaceName,
                     "interface " + interfaceName + " is down", Cause::kAdapterDown);
        return false;
    }
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(interfaceName.c_str(), error);
    if (!handle) {
        ReportStatus(CaptureStatus::kFailed, interfaceName, error);
        return false;
    }
    pcap_set_snaplen(handle, CaptureFilter::kWholeSnapLength);
    pcap_set_promisc(handle, receiveAll_ == 1 ? 1 : 0);
    // Not immediate: the kernel then packs frames into large blocks (many more fit its
    // buffer, and one wake-up brings a whole block) and hands a block over when it is full or
    // after kDeliveryMilliseconds.
    pcap_set_immediate_mode(handle, 0);
    pcap_set_timeout(handle, kDeliveryMilliseconds);
    pcap_set_buffer_size(handle, kKernelBufferBytes);
    int activated = pcap_activate(handle);
    std::string failure;
    Cause cause = Cause::kUnknown;
    if (activated < 0) {
        failure = activateError(activated, handle, interfaceName);
        cause = causeOfActivateError(activated);
    } else if (pcap_setdirection(handle, PCAP_D_INOUT) != 0) {
        failure = "cannot capture both directions on " + interfaceName;
    } else if (!DatagramExtractor::supportsLinkType(pcap_datalink(handle))) {
        failure = "interface " + interfaceName + " has an unsupported link type";
    } else if (!openedHook_ || openedHook_(failure)) {
        SetFilter(handle, failure);
    }
    if (!failure.empty()) {
        pcap_close(handle);
        ReportStatus(CaptureStatus::kFailed, interfaceName, failure, cause);
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
    for (;;) {
        result = pcap_dispatch(handle_, -1, &CPacketCapture::OnFrame,
                               reinterpret_cast<unsigned char*>(this));
        if (result >= 0) {
            if (result > 0) {
                countsBehind_.store(true, std::memory_order_relaxed);
            }
            receiver_.OnPacketBatchEnd();
            continue;
        }
        // A break that RequestStatistics asked for, not Stop: the capture goes on.
        if (result == PCAP_ERROR_BREAK && !stopRequested_ && statisticsWanted_.exchange(false)) {
            TakeStatistics();
            continue;
        }
        break;
    }
    receiver_.OnPacketBatchEnd();
    if (result == PCAP_ERROR && !stopRequested_) {
        ReportStatus(CaptureStatus::kLost, Status().interfaceName,
                     std::string("capture ended: ") + pcap_geterr(handle_));
    }
}

void CPacketCapture::TakeStatistics() {
    countsBehind_.store(false, std::memory_order_relaxed);
    pcap_stat counts{};
    const bool haveCounts = pcap_stats(handle_, &counts) == 0;
    std::lock_guard lock(mutex_);
    if (haveCounts) {
        statistics_.received = counts.ps_recv;
        statistics_.dropped = counts.ps_drop;
    }
    statistics_.handedOver = handedOver_;
}

void CPacketCapture::CloseHandle() {
    TakeStatistics();
    std::lock_guard lock(mutex_);
    pcap_close(handle_);
    handle_ = nullptr;
}

void CPacketCapture::OnFrame(unsigned char* user, const struct pcap_pkthdr* header,
                             const unsigned char* bytes) {
    auto* self = reinterpret_cast<CPacketCapture*>(user);
    std::uint32_t captured = header->caplen;
    if (!self->userlandFilter_.empty()) {
        const std::uint32_t snap =
            bpf_filter(self->userlandFilter_.data(), bytes, header->len, header->caplen);
        if (snap == 0) {
            return;
        }
        captured = std::min(captured, snap);
    }
    const int offset = DatagramExtractor::datagramOffset(self->linkType_, bytes, captured);
    if (offset < 0) {
        return;
    }
    const std::uint8_t* datagram = bytes + offset;
    const std::uint32_t length =
        DatagramExtractor::datagramLength(datagram, captured - static_cast<std::uint32_t>(offset));
    ++self->handedOver_;
    // A frame the filter's snap length cut is a plain segment: the detector reads no more.
    if (length > CapturedPacket::kCapacity && captured == header->len) {
        self->receiver_.OnLargeDatagram(datagram, length);
        return;
    }
    DatagramExtractor::copyDatagram(datagram, length, self->packet_);
    self->receiver_.OnCapturedPacket(&self->packet_);
}
