#!/usr/bin/env python3
"""Writes a HEIF grid image, as phones store their photos, from single-image HEIC files of equal size (one a
tile, row by row): the tiles' coded data and decoder configurations are taken over as they are, and a grid item
of COLUMNS x ROWS tiles cropped to WIDTH x HEIGHT becomes the primary image. heif-enc writes no grids.
Usage: make_grid.py OUT COLUMNS ROWS WIDTH HEIGHT TILE.heic..."""
import struct
import sys


def boxes(data, start=0, end=None):
    """(type, payload start, box end) of each box in data[start:end]."""
    end = len(data) if end is None else end
    while start < end:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        yield kind.decode(), start + 8, start + size
        start += size


def child(data, start, end, kind):
    return next((b, e) for k, b, e in boxes(data, start, end) if k == kind)


def box(kind, payload, full=None):
    head = b"" if full is None else struct.pack(">I", full)  # version and flags
    return struct.pack(">I4s", 8 + len(head) + len(payload), kind.encode()) + head + payload


def tile_parts(path):
    """The hvcC and ispe boxes of a file's only HEVC image, and its coded data."""
    data = open(path, "rb").read()
    meta = child(data, 0, None, "meta")
    iinf = child(data, meta[0] + 4, meta[1], "iinf")
    hevc = [struct.unpack(">H", data[b + 4:b + 6])[0] for k, b, e in boxes(data, iinf[0] + 6, iinf[1])
            if k == "infe" and data[b + 8:b + 12] == b"hvc1"]
    assert len(hevc) == 1, "one HEVC image expected"
    ipco = child(data, *child(data, meta[0] + 4, meta[1], "iprp"), "ipco")
    props = [(k, data[b - 8:e]) for k, b, e in boxes(data, *ipco)]
    assert [k for k, _ in props].count("hvcC") == 1, "one decoder configuration expected"
    at, _ = child(data, meta[0] + 4, meta[1], "iloc")
    version, sizes, more = data[at], data[at + 4], data[at + 5]
    assert sizes == 0x44 and more >> 4 in (0, 4) and more & 0xF == 0 and version in (0, 1), "iloc of heif-enc expected"
    base_size = more >> 4
    count = struct.unpack(">H", data[at + 6:at + 8])[0]
    at += 8
    for _ in range(count):
        item = struct.unpack(">H", data[at:at + 2])[0]
        at += 2 + (2 if version == 1 else 0) + 2
        base = int.from_bytes(data[at:at + base_size], "big")
        at += base_size
        extents = struct.unpack(">H", data[at:at + 2])[0]
        at += 2
        if item == hevc[0]:
            assert extents == 1, "one extent expected"
            offset, length = struct.unpack(">II", data[at:at + 8])
            coded = data[base + offset:base + offset + length]
        at += 8 * extents
    return dict(props)["hvcC"], dict(props)["ispe"], coded


def main():
    out, columns, rows, width, height = sys.argv[1], *map(int, sys.argv[2:6])
    tiles = [tile_parts(p) for p in sys.argv[6:]]
    assert len(tiles) == columns * rows
    grid_id = len(tiles) + 1
    infe = b"".join(box("infe", struct.pack(">HH4s", i + 1, 0, b"hvc1") + b"\0", 2 << 24 | 1)  # hidden tiles
                    for i in range(len(tiles)))
    infe += box("infe", struct.pack(">HH4s", grid_id, 0, b"grid") + b"\0", 2 << 24)
    iinf = box("iinf", struct.pack(">H", grid_id) + infe, 0)
    dimg = box("dimg", struct.pack(">HH", grid_id, len(tiles)) + b"".join(struct.pack(">H", i + 1)
                                                                       for i in range(len(tiles))))
    grid_ispe = box("ispe", struct.pack(">II", width, height), 0)
    properties = [grid_ispe] + [p for hvcc, ispe, _ in tiles for p in (hvcc, ispe)]
    ipco = box("ipco", b"".join(properties))
    entries = [struct.pack(">HBB", grid_id, 1, 1)]  # the grid: its ispe
    entries += [struct.pack(">HBBB", i + 1, 2, 0x80 | (2 + 2 * i), 3 + 2 * i) for i in range(len(tiles))]
    ipma = box("ipma", struct.pack(">I", len(entries)) + b"".join(entries), 0)
    grid = struct.pack(">BBBBHH", 0, 0, rows - 1, columns - 1, width, height)

    def meta_with(offsets):
        items = [struct.pack(">HHHHII", i + 1, 0, 0, 1, offsets[i], len(tiles[i][2])) for i in range(len(tiles))]
        items.append(struct.pack(">HHHHII", grid_id, 1, 0, 1, 0, len(grid)))  # in idat
        iloc = box("iloc", struct.pack(">BBH", 0x44, 0x00, len(items)) + b"".join(items), 1 << 24)
        return box("meta", box("hdlr", struct.pack(">I4s12x", 0, b"pict") + b"\0", 0) +
                   box("pitm", struct.pack(">H", grid_id), 0) + iinf + box("iref", dimg, 0) +
                   box("iprp", ipco + ipma) + iloc + box("idat", grid), 0)

    ftyp = box("ftyp", b"heic" + struct.pack(">I", 0) + b"mif1heic")
    start = len(ftyp) + len(meta_with([0] * len(tiles))) + 8
    offsets, at = [], start
    for _, _, coded in tiles:
        offsets.append(at)
        at += len(coded)
    mdat = box("mdat", b"".join(coded for _, _, coded in tiles))
    open(out, "wb").write(ftyp + meta_with(offsets) + mdat)


main()
