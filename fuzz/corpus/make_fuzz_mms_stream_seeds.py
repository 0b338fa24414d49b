#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_mms_stream (first byte: 0 header walk, 1 stream, 2 reply+stream)."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_mms_stream")
HEADER = bytes.fromhex("3026B2758E66CF11A6D900AA0062CE6C")
FPO = bytes.fromhex("A1DCAB8C47A9CF118EE400C00C205365")
SPO = bytes.fromhex("9107DCB7B7A9CF118EE600C00C205365")
DATA = bytes.fromhex("3626B2758E66CF11A6D900AA0062CE6C")
SIG = bytes.fromhex("CEFA0BB0")


def fpo(size, packet):
    return FPO + struct.pack("<Q", 104) + b"Z" * 16 + struct.pack("<QQQQQQIIII", size, 0, 2, 0, 0, 3100, 2, packet, packet, 128000)


def spo(flags):
    return SPO + struct.pack("<Q", 78) + b"\0" * 32 + struct.pack("<QIIHI", 0, 0, 0, flags, 0)


def header(packet=64, count=2):
    children = fpo(1000, packet) + spo(1) + spo(2)
    return HEADER + struct.pack("<QI", 30 + len(children), 3) + b"\x01\x02" + children + \
        DATA + struct.pack("<Q", 50 + packet * count) + b"Z" * 16 + struct.pack("<Q", count) + b"\x01\x01"


def command(cid, body=b""):
    blocks = (len(body) + 7) // 8
    return b"\x01\0\0\0" + SIG + struct.pack("<I", 8 * (blocks + 4)) + b"MMS " + \
        struct.pack("<IIQII", blocks + 4, 0, 0, blocks + 2, 0x40000 | cid) + b"\0" * 8 + body + b"\0" * (8 * blocks - len(body))


def chunk(kind, payload):
    return struct.pack("<IBBH", 0, kind, 0, len(payload) + 8) + payload


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)


h = header()
write("walk", b"\0" + h)
write("stream", b"\1" + chunk(2, h[:100]) + command(0x1B) + chunk(2, h[100:]) + command(0x05) +
      chunk(4, b"\x82" * 40) + command(0x1B) + chunk(4, b"\x82" * 64) + command(0x1E))
write("reply", b"\2" + command(0x1B) + command(0x06, b"\0" * 24) + chunk(2, h) + chunk(4, b"\x82" * 70))
