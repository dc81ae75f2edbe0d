// The display palette from a bitmap's colour table: from resources of this test
// program (see palette_test.rc), from files written here, and from the ruler itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/palette_table.h"
#include "tests/support/ruler_grey.h"
#include "tests/support/fake_directdraw.h"
#include "tests/support/import_hook.h"

VELMARO_IMPORT_SLOT(LockResource)
VELMARO_IMPORT_SLOT(OutputDebugStringA)

namespace {

struct Rgbf {
    int r, g, b, f;
    bool operator==(const Rgbf& o) const { return r == o.r && g == o.g && b == o.b && f == o.f; }
};
std::ostream& operator<<(std::ostream& out, const Rgbf& e) {
    return out << "(" << e.r << "," << e.g << "," << e.b << " flags " << e.f << ")";
}

Rgbf DefaultEntry(int i) {
    return {((i >> 5) & 7) * 255 / 7, ((i >> 2) & 7) * 255 / 7, (i & 3) * 85, 0};
}

class Palette : public ::testing::Test {
protected:
    // Entries passed to CreatePalette, which must also get exactly DDPCAPS_8BIT.
    std::vector<Rgbf> Load(const char* name) {
        script.calls.clear();
        IDirectDrawPalette* made = LoadPaletteFromBitmap(&directDraw, name);
        EXPECT_EQ(static_cast<IDirectDrawPalette*>(&palette), made);
        EXPECT_EQ(std::vector<std::string>{"dd.CreatePalette(0x4,null)"}, script.calls);
        std::vector<Rgbf> entries;
        for (const PALETTEENTRY& e : directDraw.PaletteEntries())
            entries.push_back({e.peRed, e.peGreen, e.peBlue, e.peFlags});
        return entries;
    }

    void ExpectDefaultFrom(const std::vector<Rgbf>& entries, int first) {
        ASSERT_EQ(256u, entries.size());
        for (int i = first; i < 256; ++i) EXPECT_EQ(DefaultEntry(i), entries[i]) << "entry " << i;
    }

    std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        char directory[MAX_PATH];
        GetTempPathA(sizeof directory, directory);
        const std::string path = std::string(directory) + "velmaro-palette-" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        files.push_back(path);
        return path;
    }

    void TearDown() override {
        for (const std::string& path : files) std::remove(path.c_str());
    }

    DirectDrawScript script;
    FakeDirectDraw directDraw{script};
    FakePalette palette{script, "palette"};
    std::vector<std::string> files;

    void SetUp() override { directDraw.SetPalette(&palette); }
};

void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A bitmap file: file header, info header of the given length, then the rest as given.
std::vector<std::uint8_t> BitmapFile(std::uint32_t headerSize, int bits, std::uint32_t used,
                                     const std::vector<std::uint8_t>& rest) {
    std::vector<std::uint8_t> out{'B', 'M'};
    Put(out, 0, 4), Put(out, 0, 4), Put(out, 0x1234, 4);  // size, reserved, pixel offset: not used
    Put(out, headerSize, 4), Put(out, 1, 4), Put(out, 1, 4), Put(out, 1, 2), Put(out, bits, 2);
    Put(out, 0, 4), Put(out, 0, 4), Put(out, 0, 4), Put(out, 0, 4), Put(out, used, 4), Put(out, 0, 4);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

TEST_F(Palette, NullNameOrNoBitmapGivesThe332Cube) {
    std::vector<Rgbf> entries = Load(nullptr);
    ExpectDefaultFrom(entries, 0);
    EXPECT_EQ((Rgbf{0, 0, 0, 0}), entries[0]);
    EXPECT_EQ((Rgbf{0, 0, 255, 0}), entries[3]);
    EXPECT_EQ((Rgbf{255, 0, 0, 0}), entries[224]);
    EXPECT_EQ((Rgbf{36, 182, 170, 0}), entries[0x36]);
    EXPECT_EQ((Rgbf{255, 255, 255, 0}), entries[255]);
    ExpectDefaultFrom(Load("NoSuchBitmapAnywhere.bmp"), 0);
}

TEST_F(Palette, ResourceColourCountFollowsTheHeader) {
    std::vector<Rgbf> four = Load("Pal4");  // names are matched without regard to case
    for (int i = 0; i < 16; ++i) EXPECT_EQ((Rgbf{3 * i + 100, 2 * i, i, 0}), four[i]) << "entry " << i;
    ExpectDefaultFrom(four, 16);

    std::vector<Rgbf> eight = Load("PAL8");
    for (int i = 0; i < 256; ++i) EXPECT_EQ((Rgbf{(7 * i) & 255, 255 - i, i, 0}), eight[i]) << "entry " << i;

    std::vector<Rgbf> longer = Load("PALLONG");
    EXPECT_EQ((Rgbf{3, 2, 1, 0}), longer[0]);
    EXPECT_EQ((Rgbf{6, 5, 4, 0}), longer[1]);
    ExpectDefaultFrom(longer, 2);

    ExpectDefaultFrom(Load("PAL24"), 0);

    std::vector<Rgbf> none = Load("PAL0");
    EXPECT_EQ((Rgbf{7, 8, 9, 0}), none[0]);
    ExpectDefaultFrom(none, 1);
}

TEST_F(Palette, ResourceIsNeverReadBeyondItsEnd) {
    std::vector<Rgbf> shortTable = Load("PALSHORT");
    EXPECT_EQ((Rgbf{30, 20, 10, 0}), shortTable[0]);
    EXPECT_EQ((Rgbf{90, 80, 70, 0}), shortTable[2]);
    ExpectDefaultFrom(shortTable, 3);
    ExpectDefaultFrom(Load("PALFAR"), 0);
    ExpectDefaultFrom(Load("PALTINY"), 0);
}

std::vector<std::string> g_debugOutput;
void WINAPI RecordDebugOutput(LPCSTR text) {
    g_debugOutput.push_back(text);
}
LPVOID WINAPI LockNothing(HGLOBAL) {
    return nullptr;
}

TEST_F(Palette, UnlockableResourceSaysSoAndKeepsDefaults) {
    g_debugOutput.clear();
    VELMARO_HOOK(LockResource, LockNothing);
    VELMARO_HOOK(OutputDebugStringA, RecordDebugOutput);
    ExpectDefaultFrom(Load("PAL8"), 0);
    EXPECT_EQ(std::vector<std::string>{"lock resource failed\n"}, g_debugOutput);
}

TEST_F(Palette, TheRulerGivesItsGreysAndThreeDefaults) {
    std::vector<Rgbf> entries = Load(g_patternName);
    for (int i = 0; i < 253; ++i) {
        const int grey = RulerGrey(i);
        EXPECT_EQ((Rgbf{grey, grey, grey, 0}), entries[i]) << "entry " << i;
    }
    EXPECT_EQ((Rgbf{255, 255, 85, 0}), entries[253]);
    EXPECT_EQ((Rgbf{255, 255, 170, 0}), entries[254]);
    EXPECT_EQ((Rgbf{255, 255, 255, 0}), entries[255]);
}

TEST_F(Palette, FileTableIsReadRawAndItsColoursReordered) {
    std::vector<std::uint8_t> table;
    for (int i = 0; i < 256; ++i) table.insert(table.end(), {std::uint8_t(i), std::uint8_t(255 - i), 7, 0x33});
    std::vector<Rgbf> eight = Load(WriteFile("eight.bmp", BitmapFile(40, 8, 0, table)).c_str());
    for (int i = 0; i < 256; ++i) EXPECT_EQ((Rgbf{7, 255 - i, i, 0x33}), eight[i]) << "entry " << i;

    // Three colours, then pixel bytes, which become the next entries as they are.
    std::vector<std::uint8_t> shortTable{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (int i = 0; i < 10; ++i) shortTable.push_back(static_cast<std::uint8_t>(0xA0 + i));
    std::vector<Rgbf> three = Load(WriteFile("three.bmp", BitmapFile(40, 8, 3, shortTable)).c_str());
    EXPECT_EQ((Rgbf{3, 2, 1, 4}), three[0]);
    EXPECT_EQ((Rgbf{11, 10, 9, 12}), three[2]);
    EXPECT_EQ((Rgbf{0xA0, 0xA1, 0xA2, 0xA3}), three[3]) << "pixel data, not reordered";
    EXPECT_EQ((Rgbf{0xA4, 0xA5, 0xA6, 0xA7}), three[4]);
    EXPECT_EQ((Rgbf{0xA8, 0xA9, DefaultEntry(5).b, DefaultEntry(5).f}), three[5]) << "file ends inside entry 5";
    ExpectDefaultFrom(three, 6);

    // A file claiming 256 colours but holding 2 keeps defaults past its end, unreordered.
    std::vector<Rgbf> claims = Load(WriteFile("claims.bmp", BitmapFile(40, 8, 256, {1, 2, 3, 0, 4, 5, 6, 0})).c_str());
    EXPECT_EQ((Rgbf{3, 2, 1, 0}), claims[0]);
    ExpectDefaultFrom(claims, 2);
}

TEST_F(Palette, FileHeaderOtherThan40BytesYieldsNoColours) {
    std::vector<std::uint8_t> rest;
    for (int i = 0; i < 1100; ++i) rest.push_back(static_cast<std::uint8_t>(i * 3));
    std::vector<Rgbf> entries = Load(WriteFile("v4.bmp", BitmapFile(108, 8, 0, rest)).c_str());
    for (int i = 0; i < 256; ++i) {
        const int at = 4 * i;  // straight after the 40 bytes that were read as the header
        EXPECT_EQ((Rgbf{(at * 3) & 255, ((at + 1) * 3) & 255, ((at + 2) * 3) & 255, ((at + 3) * 3) & 255}), entries[i])
            << "entry " << i;
    }
    std::vector<Rgbf> deep = Load(WriteFile("deep.bmp", BitmapFile(40, 24, 2, {1, 2, 3, 0, 4, 5, 6, 0})).c_str());
    EXPECT_EQ((Rgbf{1, 2, 3, 0}), deep[0]) << "24 bits: as read, not reordered";
    ExpectDefaultFrom(deep, 2);
}

TEST_F(Palette, FileTooShortForItsHeadersKeepsDefaults) {
    ExpectDefaultFrom(Load(WriteFile("tiny.bmp", {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 40, 0, 0}).c_str()),
                      0);
    // Header length and bit count arrive, the colour count does not: nothing to reorder.
    std::vector<std::uint8_t> halfHeader = BitmapFile(40, 8, 0, {});
    halfHeader.resize(14 + 20);
    ExpectDefaultFrom(Load(WriteFile("half.bmp", halfHeader).c_str()), 0);
}

TEST_F(Palette, FailedCreationGivesNull) {
    script.Answer("dd.CreatePalette", {DDERR_OUTOFMEMORY});
    EXPECT_EQ(nullptr, LoadPaletteFromBitmap(&directDraw, g_patternName));
    script.Answer("dd.CreatePalette", {static_cast<HRESULT>(1)});
    EXPECT_EQ(nullptr, LoadPaletteFromBitmap(&directDraw, g_patternName)) << "a positive result is no success";
}

// The table functions on their own, with guard bytes around the 1024 of the table.
TEST(PaletteTable, ColourCountsAbove256WriteOnlyThe256Entries) {
    std::vector<std::uint8_t> bitmap(40 + 4 * 300, 0x11);
    bitmap[0] = 40, bitmap[1] = bitmap[2] = bitmap[3] = 0;
    bitmap[14] = 8, bitmap[15] = 0;
    bitmap[32] = 300 & 255, bitmap[33] = 300 >> 8, bitmap[34] = bitmap[35] = 0;
    std::vector<std::uint8_t> guarded(kPaletteBytes + 64, 0xCD);
    TakeResourceColours(bitmap.data(), bitmap.size(), guarded.data() + 32);
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(0xCD, guarded[i]) << "before the table, byte " << i;
    for (std::size_t i = 32 + kPaletteBytes; i < guarded.size(); ++i) EXPECT_EQ(0xCD, guarded[i]) << "byte " << i;
    EXPECT_EQ(0x11, guarded[32 + kPaletteBytes - 4]);
    EXPECT_EQ(0, guarded[32 + kPaletteBytes - 1]) << "flags of entry 255";

    std::fill(guarded.begin(), guarded.end(), 0xCD);
    TakeFileColours(bitmap.data(), kPaletteBytes + 100, guarded.data() + 32);
    for (std::size_t i = 32 + kPaletteBytes; i < guarded.size(); ++i) EXPECT_EQ(0xCD, guarded[i]) << "byte " << i;
}

}  // namespace
