#include "display/palette_table.h"

#include <algorithm>
#include <utility>

namespace {

std::uint32_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}
std::uint32_t Read32(const std::uint8_t* p) {
    return Read16(p) | Read16(p + 2) << 16;
}

// Colours in the table of a bitmap with this header; 0 when the header is not one
// that the source accepts or the pixels are not palette indices.
std::size_t ColourCount(const std::uint8_t* header, bool exactHeaderSize) {
    const std::uint32_t headerSize = Read32(header);
    const std::uint32_t bitCount = Read16(header + 14);
    const std::uint32_t coloursUsed = Read32(header + 32);
    const bool accepted = exactHeaderSize ? headerSize == kInfoHeaderBytes : headerSize >= kInfoHeaderBytes;
    if (!accepted || bitCount > 8) return 0;
    const std::uint32_t count = coloursUsed != 0 ? coloursUsed : 1u << bitCount;
    // The palette has 256 entries; a table that claims more gives only those.
    return std::min<std::size_t>(count, kPaletteEntries);
}

}  // namespace

void FillDefaultPalette(std::uint8_t table[kPaletteBytes]) {
    for (unsigned i = 0; i < kPaletteEntries; ++i) {
        std::uint8_t* entry = table + 4 * i;
        entry[0] = static_cast<std::uint8_t>(((i >> 5) & 7) * 255 / 7);
        entry[1] = static_cast<std::uint8_t>(((i >> 2) & 7) * 255 / 7);
        entry[2] = static_cast<std::uint8_t>((i & 3) * 85);
        entry[3] = 0;
    }
}

void TakeResourceColours(const std::uint8_t* bitmap, std::size_t size, std::uint8_t table[kPaletteBytes]) {
    if (size < kInfoHeaderBytes) return;
    const std::size_t tableStart = Read32(bitmap);
    if (tableStart > size) return;
    const std::size_t count = std::min(ColourCount(bitmap, false), (size - tableStart) / 4);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* quad = bitmap + tableStart + 4 * i;  // blue, green, red, reserved
        std::uint8_t* entry = table + 4 * i;
        entry[0] = quad[2];
        entry[1] = quad[1];
        entry[2] = quad[0];
        entry[3] = 0;
    }
}

void TakeFileColours(const std::uint8_t infoHeader[kInfoHeaderBytes], std::size_t tableBytesRead,
                     std::uint8_t table[kPaletteBytes]) {
    const std::size_t count = std::min(ColourCount(infoHeader, true), std::min(tableBytesRead, kPaletteBytes) / 4);
    for (std::size_t i = 0; i < count; ++i) std::swap(table[4 * i], table[4 * i + 2]);
}
