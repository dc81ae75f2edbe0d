// Fuzzes the palette taken from a bitmap file: the input is the file's bytes, read as
// the program reads them (14 bytes, 40 bytes, then up to 1024 over the table).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "display/palette_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t at = std::min(size, kFileHeaderBytes);
    std::uint8_t infoHeader[kInfoHeaderBytes] = {};
    const std::size_t headerRead = std::min(size - at, kInfoHeaderBytes);
    std::memcpy(infoHeader, data + at, headerRead);
    at += headerRead;

    std::unique_ptr<std::uint8_t[]> table(new std::uint8_t[kPaletteBytes]);
    FillDefaultPalette(table.get());
    std::uint8_t defaults[kPaletteBytes];
    std::memcpy(defaults, table.get(), kPaletteBytes);
    const std::size_t tableRead = std::min(size - at, kPaletteBytes);
    std::memcpy(table.get(), data + at, tableRead);

    TakeFileColours(infoHeader, tableRead, table.get());
    // Whatever the header says, entries the file did not reach keep their defaults.
    for (std::size_t i = tableRead; i < kPaletteBytes; ++i)
        if (table[i] != defaults[i]) std::abort();
    return 0;
}
