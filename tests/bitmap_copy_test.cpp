// Bitmaps onto DirectDraw surfaces: real surfaces for the pixels, a test double for
// the order of the calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "display/display.h"
#include "tests/support/ruler_grey.h"
#include "tests/support/fake_directdraw.h"
#include "tests/support/import_hook.h"
#include "tests/support/real_directdraw.h"

VELMARO_IMPORT_SLOT(CreateCompatibleDC)
VELMARO_IMPORT_SLOT(StretchBlt)
VELMARO_IMPORT_SLOT(OutputDebugStringA)
VELMARO_IMPORT_SLOT(LoadImageA)
VELMARO_IMPORT_SLOT(DeleteDC)

namespace {

// An 8-bit DIB section with the ruler's colour table, so its indices map one to one.
HBITMAP MakeBitmap(int width, int height, const std::vector<std::uint8_t>& indices) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info{};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = width;
    info.header.biHeight = -height;  // top row first
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 253;
    for (int i = 0; i < 253; ++i) {
        const auto grey = static_cast<BYTE>(RulerGrey(i));
        info.colours[i] = {grey, grey, grey, 0};
    }
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    const int stride = (width + 3) & ~3;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) static_cast<std::uint8_t*>(bits)[row * stride + x] = indices[row * width + x];
    return bitmap;
}

class RealSurfaces : public ::testing::Test {
protected:
    void SetUp() override {
        directDraw = CreateRealDirectDraw();
        ASSERT_NE(nullptr, directDraw);
        palette = LoadPaletteFromBitmap(directDraw, g_patternName);
        ASSERT_NE(nullptr, palette);
    }
    void TearDown() override {
        for (IDirectDrawSurface7* surface : surfaces) surface->Release();
        if (palette) palette->Release();
        if (directDraw) directDraw->Release();
        g_patternSurface = nullptr;
    }
    // Surfaces show the ruler's palette, as the screen does.
    IDirectDrawSurface7* Surface(int width, int height, std::uint8_t fill) {
        IDirectDrawSurface7* surface = CreatePlainSurface(directDraw, width, height);
        EXPECT_NE(nullptr, surface);
        surface->SetPalette(palette);
        FillSurface(surface, fill);
        surfaces.push_back(surface);
        return surface;
    }

    IDirectDraw7* directDraw = nullptr;
    IDirectDrawPalette* palette = nullptr;
    std::vector<IDirectDrawSurface7*> surfaces;
};

int CountDifferences(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual, int width,
                     std::string& first) {
    int differences = 0;
    for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
        if (expected[i] == actual[i]) continue;
        if (differences++ == 0)
            first = "column " + std::to_string(i % width) + " row " + std::to_string(i / width) + ": expected " +
                    std::to_string(expected[i]) + ", got " + std::to_string(actual[i]);
    }
    return differences;
}

TEST_F(RealSurfaces, RulerLandsPixelForPixelOnThePatternSurface) {
    g_patternSurface = Surface(kPatternWidth, kPatternHeight, 77);
    EXPECT_EQ(1, LoadPatternImage());
    const std::vector<std::uint8_t> expected = RulerIndices();
    const std::vector<std::uint8_t> actual = ReadSurface(g_patternSurface);
    ASSERT_EQ(expected.size(), actual.size());
    std::string first;
    EXPECT_EQ(0, CountDifferences(expected, actual, kPatternWidth, first)) << "first difference at " << first;
}

TEST_F(RealSurfaces, SmallerBitmapIsStretchedOverTheWholeSurface) {
    HBITMAP bitmap = MakeBitmap(2, 2, {0, 100, 200, 252});
    IDirectDrawSurface7* surface = Surface(8, 6, 77);
    EXPECT_EQ(DD_OK, CopyBitmapToSurface(bitmap, surface, 0, 0, 0, 0));
    std::vector<std::uint8_t> expected;
    for (int row = 0; row < 6; ++row)
        for (int x = 0; x < 8; ++x) expected.push_back(row < 3 ? (x < 4 ? 0 : 100) : (x < 4 ? 200 : 252));
    std::string first;
    EXPECT_EQ(0, CountDifferences(expected, ReadSurface(surface), 8, first)) << first;

    // A source rectangle of one pixel fills the whole surface with it.
    EXPECT_EQ(DD_OK, CopyBitmapToSurface(bitmap, surface, 1, 1, 1, 1));
    EXPECT_EQ(0, CountDifferences(std::vector<std::uint8_t>(48, 252), ReadSurface(surface), 8, first)) << first;
    DeleteObject(bitmap);
}

TEST_F(RealSurfaces, LargerBitmapIsShrunkToTheSurface) {
    std::vector<std::uint8_t> indices;
    for (int row = 0; row < 8; ++row)
        for (int x = 0; x < 8; ++x) indices.push_back(x < 4 ? 30 : 60);
    HBITMAP bitmap = MakeBitmap(8, 8, indices);
    IDirectDrawSurface7* surface = Surface(2, 2, 77);
    EXPECT_EQ(DD_OK, CopyBitmapToSurface(bitmap, surface, 0, 0, 0, 0));
    EXPECT_EQ((std::vector<std::uint8_t>{30, 60, 30, 60}), ReadSurface(surface));
    DeleteObject(bitmap);
}

// --- the calls, with a test double of the surface ---

int g_memoryContexts = 0, g_deletedContexts = 0, g_stretches = 0;
std::vector<std::string> g_debugOutput;
std::string g_loadRequest;

HDC WINAPI CountingCreateCompatibleDC(HDC) {
    ++g_memoryContexts;
    return reinterpret_cast<HDC>(static_cast<INT_PTR>(0x7700 + g_memoryContexts));
}
HDC WINAPI FailingCreateCompatibleDC(HDC) {
    return nullptr;
}
BOOL WINAPI CountingDeleteDC(HDC) {
    ++g_deletedContexts;
    return TRUE;
}
BOOL WINAPI CountingStretchBlt(HDC, int, int, int, int, HDC, int, int, int, int, DWORD) {
    ++g_stretches;
    return TRUE;
}
void WINAPI RecordDebugOutput(LPCSTR text) {
    g_debugOutput.push_back(text);
}
HANDLE WINAPI NoImage(HINSTANCE instance, LPCSTR name, UINT type, int width, int height, UINT flags) {
    g_loadRequest = std::string(instance == GetModuleHandleA(nullptr) ? "self" : "other") + "," + name + "," +
                    std::to_string(type) + "," + std::to_string(width) + "," + std::to_string(height) + "," +
                    std::to_string(flags);
    return nullptr;
}

// The record's own size: 124 bytes in a 32-bit program, 136 in a 64-bit one.
const std::string kMeasure = "surface.GetSurfaceDesc(" + std::to_string(sizeof(DDSURFACEDESC2)) + ",0x6)\n";

class CopyCalls : public ::testing::Test {
protected:
    void SetUp() override {
        g_memoryContexts = g_deletedContexts = g_stretches = 0;
        g_debugOutput.clear();
        bitmap = MakeBitmap(2, 2, {1, 2, 3, 4});
    }
    void TearDown() override { DeleteObject(bitmap); }

    DirectDrawScript script;
    FakeSurface surface{script, "surface", 16, 8};
    HBITMAP bitmap = nullptr;
};

TEST_F(CopyCalls, NullBitmapOrSurfaceFailsWithoutAnyCall) {
    VELMARO_HOOK(CreateCompatibleDC, CountingCreateCompatibleDC);
    EXPECT_EQ(E_FAIL, CopyBitmapToSurface(nullptr, &surface, 0, 0, 0, 0));
    EXPECT_EQ(E_FAIL, CopyBitmapToSurface(bitmap, nullptr, 0, 0, 0, 0));
    EXPECT_EQ("", script.Joined());
    EXPECT_EQ(0, g_memoryContexts);
}

TEST_F(CopyCalls, SurfaceIsRestoredThenMeasuredThenDrawn) {
    VELMARO_HOOK(StretchBlt, CountingStretchBlt);
    surface.SetDC(reinterpret_cast<HDC>(static_cast<INT_PTR>(0x5151)));
    EXPECT_EQ(DD_OK, CopyBitmapToSurface(bitmap, &surface, 0, 0, 0, 0));
    EXPECT_EQ("surface.Restore()\n" + kMeasure + "surface.GetDC()\nsurface.ReleaseDC(its dc)\n", script.Joined());
    EXPECT_EQ(1, g_stretches);
}

TEST_F(CopyCalls, LostSurfaceIsRestoredAndItsFailureReturned) {
    VELMARO_HOOK(CreateCompatibleDC, CountingCreateCompatibleDC);
    VELMARO_HOOK(DeleteDC, CountingDeleteDC);
    VELMARO_HOOK(StretchBlt, CountingStretchBlt);
    script.Answer("surface.Restore", {DDERR_WRONGMODE});
    script.Answer("surface.GetDC", {DDERR_SURFACELOST});
    EXPECT_EQ(DDERR_SURFACELOST, CopyBitmapToSurface(bitmap, &surface, 0, 0, 0, 0));
    EXPECT_EQ("surface.Restore()\n" + kMeasure + "surface.GetDC()\n", script.Joined());
    EXPECT_EQ(0, g_stretches);
    EXPECT_EQ(1, g_memoryContexts);
    EXPECT_EQ(1, g_deletedContexts) << "the memory context outlived a failed copy";
}

TEST_F(CopyCalls, NoMemoryContextIsReportedToTheDebuggerOnly) {
    VELMARO_HOOK(CreateCompatibleDC, FailingCreateCompatibleDC);
    VELMARO_HOOK(StretchBlt, CountingStretchBlt);
    VELMARO_HOOK(OutputDebugStringA, RecordDebugOutput);
    VELMARO_HOOK(DeleteDC, CountingDeleteDC);
    EXPECT_EQ(DD_OK, CopyBitmapToSurface(bitmap, &surface, 0, 0, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"createcompatible dc failed\n"}, g_debugOutput);
    EXPECT_EQ(0, g_stretches);
    EXPECT_EQ(0, g_deletedContexts);
    EXPECT_EQ(2u, script.CallsTo("surface.GetDC").size() + script.CallsTo("surface.ReleaseDC").size());
}

TEST_F(CopyCalls, PatternImageThatCannotBeLoadedGivesZero) {
    VELMARO_HOOK(LoadImageA, NoImage);
    g_patternSurface = &surface;
    EXPECT_EQ(0, LoadPatternImage());
    g_patternSurface = nullptr;
    EXPECT_EQ("self,Pattern,0,0,0," + std::to_string(LR_CREATEDIBSECTION), g_loadRequest);
    EXPECT_EQ("", script.Joined()) << "the surface was touched without an image";
}

}  // namespace
