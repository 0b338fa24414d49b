#!/usr/bin/env python3
"""Writes an Ethernet pcap file for the live-capture replay bench.

mix:   a realistic mix: about 5 % of the packets on ports 80/1755/554 (HTTP GETs of about
       2,000 distinct media files, RTSP and MMS requests, their ACKs), the rest bulk TCP on
       443, UDP and bare ACKs.
media: every packet is an HTTP GET of a distinct media file.
"""
import argparse
import random
import struct
import sys

ETH = bytes.fromhex("020000000099" "020000000098" "0800")


def checksum16(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4(src, dst, proto, payload, ident):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident & 0xFFFF, 0x4000,
                         64, proto, 0, src, dst)
    header = header[:10] + struct.pack("!H", checksum16(header)) + header[12:]
    return header + payload


def tcp(sport, dport, seq, flags, data=b""):
    return struct.pack("!HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, 1, 0x50, flags, 65535, 0,
                       0) + data


def udp(sport, dport, data):
    return struct.pack("!HHHH", sport, dport, 8 + len(data), 0) + data


CLIENT = bytes([10, 201, 0, 2])
SERVER = bytes([10, 201, 0, 1])
SUFFIXES = [".asf", ".wmv", ".wma", ".mp3", ".avi", ".rm", ".flv", ".wav"]  # all in the default list


def media_request(n, rng):
    kind = rng.random()
    name = "/media/v%06d/clip%d%s" % (n, n % 97, SUFFIXES[n % len(SUFFIXES)])
    if kind < 0.8:
        text = "GET %s HTTP/1.1\r\nHost: video%d.example\r\nUser-Agent: bench\r\n\r\n" % (name, n % 50)
        return tcp(40000 + n % 20000, 80, n, 0x18, text.encode())
    if kind < 0.9:
        text = "DESCRIBE rtsp://stream%d.example%s RTSP/1.0\r\nCSeq: 2\r\n\r\n" % (n % 50, name)
        return tcp(40000 + n % 20000, 554, n, 0x18, text.encode())
    text = "<html><a href=\"mms://wm%d.example%s\">clip</a></html>" % (n % 50, name)
    return tcp(1755, 40000 + n % 20000, n, 0x18, text.encode())


def packets(kind, count, rng):
    bulk = bytes(rng.getrandbits(8) for _ in range(1400))
    for i in range(count):
        if kind == "media":
            yield ipv4(CLIENT, SERVER, 6, media_request(i, rng), i)
            continue
        r = rng.random()
        if r < 0.02:
            yield ipv4(CLIENT, SERVER, 6, media_request(rng.randrange(2000), rng), i)
        elif r < 0.05:
            yield ipv4(SERVER, CLIENT, 6, tcp(80, 40000 + i % 20000, i, 0x10), i)
        elif r < 0.55:
            yield ipv4(SERVER, CLIENT, 6, tcp(443, 50000 + i % 10000, i, 0x10, bulk), i)
        elif r < 0.85:
            yield ipv4(CLIENT, SERVER, 6, tcp(50000 + i % 10000, 443, i, 0x10), i)
        else:
            yield ipv4(CLIENT, SERVER, 17, udp(5004, 5004, bulk[: 160 + i % 1000]), i)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["mix", "media"])
    parser.add_argument("packets", type=int)
    parser.add_argument("output")
    args = parser.parse_args()
    rng = random.Random(7)
    with open(args.output, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        for i, datagram in enumerate(packets(args.kind, args.packets, rng)):
            frame = ETH + datagram
            if len(frame) < 60:
                frame += bytes(60 - len(frame))
            out.write(struct.pack("<IIII", i // 1000000, i % 1000000, len(frame), len(frame)))
            out.write(frame)
    return 0


if __name__ == "__main__":
    sys.exit(main())
