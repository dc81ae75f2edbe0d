// Fuzzes the palette taken from a bitmap resource: the input is the resource's bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "display/palette_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the resource's size and the palette's size, so that any byte read or
    // written beyond either is caught.
    std::unique_ptr<std::uint8_t[]> resource(new std::uint8_t[size]);
    std::memcpy(resource.get(), data, size);
    std::unique_ptr<std::uint8_t[]> table(new std::uint8_t[kPaletteBytes]);
    FillDefaultPalette(table.get());
    TakeResourceColours(resource.get(), size, table.get());
    // Flags of every entry stay 0.
    for (std::size_t i = 0; i < kPaletteEntries; ++i)
        if (table[4 * i + 3] != 0) std::abort();
    return 0;
}
