#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_capture_file and fuzz_capture_pipe (run from the repo root)."""
import os
import struct

def datagram(payload, src_port=40000, dst_port=80):
    tcp = struct.pack('!HHIIBBHHH', src_port, dst_port, 1, 0, 0x50, 0x18, 65535, 0, 0)
    total = 20 + len(tcp) + len(payload)
    ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, total, 1, 0, 64, 6, 0,
                     bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2]))
    return ip + tcp + payload

GET = datagram(b'GET /v/a.asf HTTP/1.1\r\nHost: S\r\n\r\n')

def pcap(link_type, frames):
    out = struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 262144, link_type)
    for frame in frames:
        out += struct.pack('<IIII', 0, 0, len(frame), len(frame)) + frame
    return out

def pcapng(link_type, frame):
    shb = struct.pack('<IIIHHqI', 0x0A0D0D0A, 28, 0x1A2B3C4D, 1, 0, -1, 28)
    idb = struct.pack('<IIHHII', 1, 20, link_type, 0, 262144, 20)
    padded = frame + b'\0' * (-len(frame) % 4)
    length = 32 + len(padded)
    epb = struct.pack('<IIIIIII', 6, length, 0, 0, 0, len(frame), len(frame)) + padded
    epb += struct.pack('<I', length)
    return shb + idb + epb

ethernet = b'\0' * 12 + b'\x08\x00'
vlan = b'\0' * 12 + b'\x81\x00\x00\x05\x08\x00'
cooked = struct.pack('!HHH8sH', 0, 1, 6, b'\0' * 8, 0x0800)

file_seeds = {
    'ethernet': pcap(1, [ethernet + GET, ethernet + GET[:30]]),
    'vlan': pcap(1, [vlan + GET]),
    'cooked': pcap(113, [cooked + GET]),
    'raw': pcap(101, [GET]),
    'pcapng': pcapng(101, GET),
}

def message(kind, payload):
    return struct.pack('<BI', kind, len(payload)) + payload

def status(state, name, text):
    return message(1, struct.pack('<BH', state, len(name)) + name + text)

pipe_seeds = {
    # The first byte sets the piece size.
    'session': b'\x07' + status(2, b'veth0', b'') + message(2, GET) +
               message(3, struct.pack('<QQQ', 5, 0, 1)),
    'failed': b'\xff' + status(3, b'eth0', b'no permission to capture on eth0'),
}

for directory, seeds in (('fuzz/corpus/fuzz_capture_file', file_seeds),
                         ('fuzz/corpus/fuzz_capture_pipe', pipe_seeds)):
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), 'wb') as f:
            f.write(data)
