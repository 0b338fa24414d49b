#include "core/capture/CaptureFilter.h"

#include <pcap/pcap.h>

#include <initializer_list>
#include <span>
#include <string_view>

#include "core/capture/DatagramExtractor.h"

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

// Every `vlan` moves the offsets of the rest of the expression by one tag, so the second and
// third clauses test one and two tags. Other link types carry no tags (and libpcap refuses
// `vlan` on them).
std::string withVlanTags(int linkType, const std::string& ip) {
    if (linkType != DatagramExtractor::kEthernet) {
        return ip;
    }
    return joined({ip, " or (vlan and ", ip, ") or (vlan and ", ip, ")"});
}

bool compileOne(pcap* handle, const std::string& expression, std::vector<bpf_insn>& out,
                std::string& failure) {
    bpf_program program;
    if (pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        failure = std::string("cannot compile the packet filter: ") + pcap_geterr(handle);
        return false;
    }
    out.assign(program.bf_insns, program.bf_insns + program.bf_len);
    pcap_freecode(&program);
    return true;
}

bool isConstantReturn(const bpf_insn& instruction) {
    return instruction.code == (BPF_RET | BPF_K);
}

// Every accepting return of `program` passes `snapLength` bytes.
void setSnapLength(std::vector<bpf_insn>& program, std::uint32_t snapLength) {
    for (bpf_insn& instruction : program) {
        if (isConstantReturn(instruction) && instruction.k != 0) {
            instruction.k = snapLength;
        }
    }
}

// Every refusal of `program` jumps to what follows its end instead.
void continueWhereRefused(std::vector<bpf_insn>& program) {
    const std::size_t end = program.size();
    for (std::size_t i = 0; i < end; ++i) {
        if (isConstantReturn(program[i]) && program[i].k == 0) {
            program[i].code = BPF_JMP | BPF_JA;
            program[i].k = static_cast<bpf_u_int32>(end - i - 1);
        }
    }
}

}  // namespace

std::string CaptureFilter::plainExpression(int linkType, const WatchedPorts& ports) {
    return withVlanTags(linkType, joined({"(", ipv4Clause(ports), " or ", ipv6Clause(ports), ")"}));
}

std::string CaptureFilter::tlsExpression(int linkType, const TlsPorts& tlsPorts) {
    return withVlanTags(linkType, joined({"(", tlsClause(tlsPorts), ")"}));
}

bool CaptureFilter::compileJoined(pcap* handle, const WatchedPorts& ports, const TlsPorts& tlsPorts,
                                  std::vector<bpf_insn>& program, std::string& failure) {
    const int linkType = pcap_datalink(handle);
    std::vector<bpf_insn> plain;
    if (!compileOne(handle, tlsExpression(linkType, tlsPorts), program, failure) ||
        !compileOne(handle, plainExpression(linkType, ports), plain, failure)) {
        return false;
    }
    setSnapLength(program, kWholeSnapLength);
    continueWhereRefused(program);
    setSnapLength(plain, kPlainSnapLength);
    program.insert(program.end(), plain.begin(), plain.end());
    return true;
}

bool CaptureFilter::compile(pcap* handle, const WatchedPorts& ports, const TlsPorts& tlsPorts,
                            Programs& programs, std::string& failure) {
    programs.userland.clear();
    if (!compileJoined(handle, ports, tlsPorts, programs.kernel, failure)) {
        return false;
    }
    if (programs.kernel.size() <= kMaxInstructions) {
        return true;
    }
    // The frames libpcap hands over carry their VLAN tags, which a program for a capture
    // file finds in place (a live handle's program asks the kernel instead).
    const int linkType = pcap_datalink(handle);
    pcap* offline = pcap_open_dead(linkType, kWholeSnapLength);
    const bool compiled =
        offline != nullptr && compileJoined(offline, ports, tlsPorts, programs.userland, failure) &&
        compileOne(handle, withVlanTags(linkType, "(tcp or udp)"), programs.kernel, failure);
    if (offline != nullptr) {
        pcap_close(offline);
    }
    setSnapLength(programs.kernel, kWholeSnapLength);
    return compiled;
}
