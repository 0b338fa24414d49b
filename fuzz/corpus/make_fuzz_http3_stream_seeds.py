#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_http3_stream: requests and answers with QPACK sections that use
the static table, a dynamic table filled by the encoder stream (relative and post-base indices),
and a section that comes before the encoder instructions it needs."""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_http3_stream")
# Stream slots of the fuzzer (low four bits of a chunk's control byte).
REQUEST, CLIENT_ENCODER, SERVER_ENCODER = 0, 6, 7
FROM_SERVER, FIN = 0x10, 0x20


def prefixed(value, bits, flags=0):
    """A QPACK prefix integer of `bits` bits, its other bits set to `flags`."""
    top = (1 << bits) - 1
    if value < top:
        return bytes([flags | value])
    out = [flags | top]
    value -= top
    while value >= 128:
        out.append(0x80 | value & 0x7F)
        value >>= 7
    return bytes(out + [value])


def text(value, bits=7, flags=0):
    return prefixed(len(value), bits, flags) + value


def varint(value):
    return bytes([value]) if value < 64 else bytes([0x40 | value >> 8, value & 0xFF])


def headers(section):
    return varint(1) + varint(len(section)) + section


def chunks(slot, data, flags=0):
    out = b""
    while True:
        piece, data = data[:255], data[255:]
        out += bytes([slot | (flags if not data else flags & ~FIN), len(piece)]) + piece
        if not data:
            return out


STATIC_GET = bytes([0xC0 | 17, 0xC0 | 23])  # :method GET, :scheme https
AUTHORITY = bytes([0x50]) + text(b"media.example")  # literal, name :authority (static 0)


def path(value):
    return bytes([0x51]) + text(value)  # literal, name :path (static 1)


def content_type(value):
    return prefixed(44, 4, 0x50) + text(value)  # literal, name content-type (static 44)


def ok(kind):
    return b"\x00\x00" + bytes([0xC0 | 25]) + content_type(kind)  # :status 200


# Set Dynamic Table Capacity 4096, then :authority media.example (name from the static table) and
# user-agent Player/3 (literal name): entries 0 and 1.
FILL = prefixed(4096, 5, 0x20) + prefixed(0, 6, 0xC0) + text(b"media.example") + \
    text(b"user-agent", 5, 0x40) + text(b"Player/3")
# Required Insert Count 2 is encoded as 2 % (2 * 4096 // 32) + 1.
RELATIVE = b"\x03\x00" + STATIC_GET + bytes([0x81, 0x80]) + path(b"/a.ts")  # base 2
POST_BASE = b"\x03\x81" + STATIC_GET + bytes([0x10, 0x11]) + path(b"/b.m3u8")  # base 0

SEEDS = {
    "static": chunks(REQUEST, headers(b"\x00\x00" + STATIC_GET + AUTHORITY + path(b"/v.m3u8")), FIN) +
    chunks(REQUEST | FROM_SERVER, headers(ok(b"application/vnd.apple.mpegurl"))),
    "dynamic": chunks(CLIENT_ENCODER, FILL) + chunks(REQUEST, headers(RELATIVE), FIN) +
    chunks(SERVER_ENCODER | FROM_SERVER, FILL[:3] + prefixed(44, 6, 0xC0) + text(b"video/mp2t")) +
    chunks(REQUEST | FROM_SERVER, headers(b"\x02\x00" + bytes([0xC0 | 25, 0x80]))),
    "waiting": chunks(REQUEST, headers(POST_BASE), FIN) + chunks(CLIENT_ENCODER, FILL) +
    chunks(REQUEST | FROM_SERVER, headers(ok(b"video/mp4"))),
}

os.makedirs(HERE, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)
