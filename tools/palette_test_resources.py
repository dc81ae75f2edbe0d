"""Writes the resource script of the palette tests: bitmap resources with odd headers,
as raw little-endian words.   palette_test_resources.py OUTPUT.rc"""

import sys


def header(size, bits, used):
    # biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression, biSizeImage,
    # biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant
    return [f"{size}L", "1L", "1L", "1", f"{bits}", "0L", "0L", "0L", "0L", f"{used}L", "0L"]


def quads(entries):
    words = []
    for blue, green, red, reserved in entries:
        words += [f"0x{green:02x}{blue:02x}", f"0x{reserved:02x}{red:02x}"]
    return words


def block(name, comment, words):
    lines = [f"// {comment}", f"{name} 2", "BEGIN"]
    for i in range(0, len(words), 8):
        lines.append("    " + ", ".join(words[i:i + 8]) + ("," if i + 8 < len(words) else ""))
    lines.append("END")
    return "\n".join(lines) + "\n"


PIXELS = ["0x0000", "0x0000"]
BLOCKS = [
    block("PAL4", "4 bits, biClrUsed 0: 16 colours (b = i, g = 2i, r = 3i + 100, reserved 0x77)",
          header(40, 4, 0) + quads([(i, 2 * i, 3 * i + 100, 0x77) for i in range(16)]) + PIXELS),
    block("PAL8", "8 bits, biClrUsed 0: 256 colours (b = i, g = 255 - i, r = 7i mod 256, reserved 0x55)",
          header(40, 8, 0) + quads([(i, 255 - i, (7 * i) & 255, 0x55) for i in range(256)]) + PIXELS),
    block("PALLONG", "a 48-byte header (8 bytes 0xEE after the usual 40), 8 bits, 2 colours",
          header(48, 8, 2) + ["0xeeee"] * 4 + quads([(1, 2, 3, 0), (4, 5, 6, 0)]) + PIXELS),
    block("PAL24", "24 bits with a colour table of 2 that must not be used",
          header(40, 24, 2) + quads([(1, 2, 3, 0), (4, 5, 6, 0)]) + PIXELS),
    block("PAL0", "biBitCount 0, biClrUsed 0: one colour",
          header(40, 0, 0) + quads([(9, 8, 7, 0), (6, 5, 4, 0)])),
    block("PALSHORT", "8 bits claiming 200 colours, but the resource ends after 3",
          header(40, 8, 200) + quads([(10, 20, 30, 0), (40, 50, 60, 0), (70, 80, 90, 0)])),
    block("PALFAR", "a header length far beyond the resource's end",
          header(0xFFFFFFF0, 8, 2) + quads([(1, 2, 3, 0), (4, 5, 6, 0)])),
    block("PALTINY", "only 36 bytes: not even a whole header", header(40, 8, 2)[:-1]),
]

TEXT = """// Bitmap resources (type 2, RT_BITMAP) with odd headers for the palette tests,
// written out as raw little-endian words: the first eleven items are the
// BITMAPINFOHEADER, then the colour table as blue-green, reserved-red word pairs.
// Made by tools/palette_test_resources.py at build time.
#include <windows.h>

LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL
PATTERN BITMAP "pattern.bmp"

"""

if __name__ == "__main__":
    with open(sys.argv[1], "w") as out:
        out.write(TEXT + "\n".join(BLOCKS))
