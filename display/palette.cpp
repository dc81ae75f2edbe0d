// The display palette, taken from the colour table of the ruler bitmap: from the
// program's own resources, or else from a bitmap file of that name.
#include "display/display.h"
#include "display/palette_table.h"

namespace {

// False when the program has no bitmap resource of that name.
bool ReadResourceColours(const char* name, std::uint8_t* table) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, name, RT_BITMAP);
    if (resource == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bitmap = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bitmap == nullptr) {
        OutputDebugStringA("lock resource failed\n");
        return true;
    }
    TakeResourceColours(static_cast<const std::uint8_t*>(bitmap), SizeofResource(module, resource), table);
    return true;
}

void ReadFileColours(const char* name, std::uint8_t* table) {
    HFILE file = _lopen(name, OF_READ);
    if (file == HFILE_ERROR) return;
    std::uint8_t fileHeader[kFileHeaderBytes];
    std::uint8_t infoHeader[kInfoHeaderBytes] = {};  // fields past a short file's end read as 0
    _lread(file, fileHeader, sizeof fileHeader);
    _lread(file, infoHeader, sizeof infoHeader);
    const UINT tableBytesRead = _lread(file, table, kPaletteBytes);
    _lclose(file);
    TakeFileColours(infoHeader, tableBytesRead == static_cast<UINT>(HFILE_ERROR) ? 0 : tableBytesRead, table);
}

}  // namespace

IDirectDrawPalette* LoadPaletteFromBitmap(IDirectDraw7* directDraw, const char* name) {
    PALETTEENTRY entries[kPaletteEntries];
    static_assert(sizeof entries == kPaletteBytes, "a palette entry is four bytes");
    auto* table = reinterpret_cast<std::uint8_t*>(entries);
    FillDefaultPalette(table);
    if (name != nullptr && !ReadResourceColours(name, table)) ReadFileColours(name, table);

    IDirectDrawPalette* palette = nullptr;
    if (directDraw->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr) != DD_OK) return nullptr;
    return palette;
}
