"""The pictures that velmaro.exe should put on the screen, worked out from the ruler
bitmap and its colour table: one picture for each of the five phases."""

import struct

WIDTH, HEIGHT, ROW_BYTES = 330, 768, 332
WHITE_INDEX = 252


def read_ruler(path):
    """(rows of palette indices, top row first; list of (r, g, b) by index)."""
    data = open(path, "rb").read()
    pixels_at = struct.unpack("<I", data[10:14])[0]
    colours = struct.unpack("<I", data[14 + 32:14 + 36])[0]
    table = [tuple(data[54 + 4 * i + 2 - c] for c in range(3)) for i in range(colours)]
    rows = [data[pixels_at + (HEIGHT - 1 - r) * ROW_BYTES:pixels_at + (HEIGHT - 1 - r) * ROW_BYTES + WIDTH]
            for r in range(HEIGHT)]
    return rows, table


def phase_pictures(ruler_path, width, height):
    """RGB bytes of the screen after a frame of each phase 0..4, in order. The columns
    that the program never draws (the last width mod 8) are taken to be black."""
    rows, table = read_ruler(ruler_path)
    rgb_of = [bytes(c) for c in table]
    left = int((width - WIDTH) / 2)
    tiles = width // 8 * 8
    base = []
    for r in range(height):
        line = bytearray(bytes(rgb_of[WHITE_INDEX]) * tiles + bytes(3 * (width - tiles)))
        ruler_line = b"".join(rgb_of[i] for i in rows[r])
        start, end = max(left, 0), min(left + WIDTH, width)
        line[3 * start:3 * end] = ruler_line[3 * (start - left):3 * (end - left)]
        base.append(line)
    pictures = []
    current = [bytearray(line) for line in base]
    for phase in range(5):
        for x0 in (left - 10 * phase, left + 325 + 10 * phase):
            start, end = max(x0, 0), min(x0 + 5, width)
            if start < end:
                for line in current:
                    line[3 * start:3 * end] = bytes(rgb_of[0]) * (end - start)
        pictures.append(b"".join(bytes(line) for line in current))
    return pictures


def classify(rgb, pictures, width):
    """(phase, None) when rgb is exactly one of the pictures, else (None, description)."""
    for phase, picture in enumerate(pictures):
        if rgb == picture:
            return phase, None
    best = min(range(len(pictures)), key=lambda p: sum(a != b for a, b in zip(rgb[::97], pictures[p][::97])))
    picture = pictures[best]
    first = next((i for i in range(0, min(len(rgb), len(picture)), 3) if rgb[i:i + 3] != picture[i:i + 3]), None)
    if first is None:
        return None, f"size {len(rgb)} bytes, expected {len(picture)}"
    pixel = first // 3
    return None, (f"nearest phase {best}: first difference at column {pixel % width} row {pixel // width}: "
                  f"{tuple(rgb[first:first + 3])} instead of {tuple(picture[first:first + 3])}")
