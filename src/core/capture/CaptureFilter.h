#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/capture/CapturedPacket.h"
#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"

struct pcap;

// The kernel filter of a capture, made from the port numbers alone. It keeps two snap lengths:
// the detector reads no more than a CapturedPacket of a plain segment, while the TLS reader
// needs every byte of a TLS port's datagram, even one the sender's segmentation offload has not
// split yet (a browser's post-quantum hello is one datagram of over 2 KiB). Two programs are
// compiled, one a snap length, and joined: where the TLS program refuses, the plain one runs.
class CaptureFilter {
  public:
    // Room after the largest link header (Ethernet with two VLAN tags, Linux cooked v2).
    static constexpr int kLinkHeaderRoom = 64;
    static constexpr int kPlainSnapLength = CapturedPacket::kCapacity + kLinkHeaderRoom;
    static constexpr int kWholeSnapLength = CapturedPacket::kMaxDatagram + kLinkHeaderRoom;
    // The kernel refuses longer classic BPF programs.
    static constexpr std::size_t kMaxInstructions = 4096;

    // TCP over IPv4 or IPv6 to or from one of `ports`, with payload, found behind the IPv4
    // options or the IPv6 extension headers as the detector finds it, on Ethernet untagged or
    // behind one or two VLAN tags. For a libpcap link type (DLT_*).
    static std::string plainExpression(int linkType, const WatchedPorts& ports);
    // Every TCP segment and UDP datagram to or from one of `tlsPorts`: connections are followed
    // both ways, and QUIC runs over UDP.
    static std::string tlsExpression(int linkType, const TlsPorts& tlsPorts);

    struct Programs {
        std::vector<bpf_insn> kernel;
        // Empty when the kernel's program is the exact one; otherwise the exact one, for the
        // frames the kernel passes (as libpcap hands them over, VLAN tags in place).
        std::vector<bpf_insn> userland;
    };

    // The joined program for `handle`'s link type: a TLS port's datagram passes with
    // kWholeSnapLength, a plain one with kPlainSnapLength. Many ports on a link with VLAN tags
    // make it too long for the kernel: then the kernel passes every TCP and UDP datagram and
    // the joined program runs on what it passes. False with `failure` set when libpcap cannot
    // compile an expression.
    static bool compile(pcap* handle, const WatchedPorts& ports, const TlsPorts& tlsPorts,
                        Programs& programs, std::string& failure);
    // The joined program alone, however long.
    static bool compileJoined(pcap* handle, const WatchedPorts& ports, const TlsPorts& tlsPorts,
                              std::vector<bpf_insn>& program, std::string& failure);
};
