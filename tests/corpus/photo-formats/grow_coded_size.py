#!/usr/bin/env python3
"""Writes a copy of an HEIC file whose HEVC sequence parameter sets announce a far larger picture than the
image's ispe box: the box sizes and iloc offsets grow with the longer parameter sets, so that everything
else in the file stays valid. Usage: grow_coded_size.py IN OUT WIDTH HEIGHT"""
import struct
import sys


def bits_of(data):
    return [(byte >> (7 - i)) & 1 for byte in data for i in range(8)]


def unescape(data):
    out, zeros = bytearray(), 0
    for byte in data:
        if zeros >= 2 and byte == 3:
            zeros = 0
            continue
        out.append(byte)
        zeros = zeros + 1 if byte == 0 else 0
    return out


def escape(data):
    out, zeros = bytearray(), 0
    for byte in data:
        if zeros >= 2 and byte <= 3:
            out.append(3)
            zeros = 0
        out.append(byte)
        zeros = zeros + 1 if byte == 0 else 0
    return out


def golomb(value):
    value += 1
    return [0] * (value.bit_length() - 1) + [int(b) for b in bin(value)[2:]]


def grow_sps(nal, width, height):
    bits, at = bits_of(unescape(nal[2:])), 0

    def take(count):
        nonlocal at
        at += count
        return int("".join(map(str, bits[at - count:at])) or "0", 2)

    def take_golomb():
        zeros = 0
        while take(1) == 0:
            zeros += 1
        return (1 << zeros) - 1 + take(zeros)

    take(4)
    sub_layers = take(3)
    take(1 + 88 + 8)
    flags = [(take(1), take(1)) for _ in range(sub_layers)]
    if sub_layers:
        take(2 * (8 - sub_layers))
    for profile, level in flags:
        take(88 * profile + 8 * level)
    take_golomb()
    if take_golomb() == 3:
        take(1)
    start = at
    take_golomb(), take_golomb()
    out = bits[:start] + golomb(width) + golomb(height) + bits[at:]
    out += [0] * (-len(out) % 8)
    return nal[:2] + escape(bytes(int("".join(map(str, out[i:i + 8])), 2) for i in range(0, len(out), 8)))


def grow_hvcc(box, width, height):
    out, at = bytearray(box[:31]), 31
    for _ in range(box[30]):
        kind, count = box[at], struct.unpack(">H", box[at + 1:at + 3])[0]
        out += box[at:at + 3]
        at += 3
        for _ in range(count):
            length = struct.unpack(">H", box[at:at + 2])[0]
            nal = box[at + 2:at + 2 + length]
            at += 2 + length
            if kind & 0x3F == 33:
                nal = grow_sps(nal, width, height)
            out += struct.pack(">H", len(nal)) + nal
    out += box[at:]
    out[0:4] = struct.pack(">I", len(out))
    return out


def rebuild(data, start, end, width, height):
    out, at = bytearray(), start
    while at < end:
        size, kind = struct.unpack(">I", data[at:at + 4])[0], data[at + 4:at + 8]
        box = data[at:at + size]
        if kind == b"hvcC":
            box = grow_hvcc(box, width, height)
        elif kind in (b"meta", b"iprp", b"ipco"):
            header = 12 if kind == b"meta" else 8
            box = bytearray(box[:header]) + rebuild(data, at + header, at + size, width, height)
            box[0:4] = struct.pack(">I", len(box))
        out += box
        at += size
    return out


def shift_iloc(data, delta):
    at = data.find(b"iloc") + 4
    version = data[at]
    offset_size, length_size = data[at + 4] >> 4, data[at + 4] & 15
    base_size, index_size = data[at + 5] >> 4, (data[at + 5] & 15) if version in (1, 2) else 0
    at += 6
    count_size = 2 if version < 2 else 4
    count = int.from_bytes(data[at:at + count_size], "big")
    at += count_size

    def shift(size):
        nonlocal at
        value = int.from_bytes(data[at:at + size], "big")
        if size and value:
            data[at:at + size] = (value + delta).to_bytes(size, "big")
        at += size

    for _ in range(count):
        at += (2 if version < 2 else 4) + (2 if version in (1, 2) else 0) + 2
        shift(base_size)
        extents = struct.unpack(">H", data[at:at + 2])[0]
        at += 2
        for _ in range(extents):
            at += index_size
            shift(offset_size)
            at += length_size


source = open(sys.argv[1], "rb").read()
grown = rebuild(source, 0, len(source), int(sys.argv[3]), int(sys.argv[4]))
shift_iloc(grown, len(grown) - len(source))
open(sys.argv[2], "wb").write(grown)
