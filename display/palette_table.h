// How the colour table of a bitmap becomes the 256 entries of the display palette.
// Works on plain bytes (an entry is red, green, blue, flags, as in PALETTEENTRY), so
// the same code also builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kPaletteBytes = 4 * kPaletteEntries;
constexpr std::size_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr std::size_t kFileHeaderBytes = 14;  // BITMAPFILEHEADER

// The 3-3-2 colour cube: red in bits 7..5, green in 4..2, blue in 1..0.
void FillDefaultPalette(std::uint8_t table[kPaletteBytes]);

// From a bitmap resource (header, colour table, pixels) of the given size: its colours
// over the first entries, in red-green-blue order with flags 0. Nothing is read beyond
// the resource.
void TakeResourceColours(const std::uint8_t* bitmap, std::size_t size, std::uint8_t table[kPaletteBytes]);

// From a bitmap file, after its 40-byte info header (zero where the file ended early)
// was read, and then up to 1024 bytes (tableBytesRead of them) straight over the
// table: the entries that are colours get their blue and red swapped, the rest stay
// as read. Entries the file did not reach keep their default values.
void TakeFileColours(const std::uint8_t infoHeader[kInfoHeaderBytes], std::size_t tableBytesRead,
                     std::uint8_t table[kPaletteBytes]);
