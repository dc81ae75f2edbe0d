// Five frames composed on real DirectDraw surfaces, compared pixel for pixel with the
// picture each phase should leave on the work surface and the back buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "animation/presentation.h"
#include "app/command_line.h"
#include "display/display.h"
#include "tests/support/real_directdraw.h"

namespace {

constexpr std::uint8_t kUntouched = 77;  // not a colour the program draws
constexpr std::uint8_t kWhite = 252;

// What the work surface should hold after the frame of the given phase, building on
// the picture of the phase before it.
void DrawExpected(std::vector<std::uint8_t>& picture, const std::vector<std::uint8_t>& ruler, int width, int height,
                  int phase) {
    const int left = (width - 330) / 2;
    auto put = [&](int x, int y, std::uint8_t index) {
        if (x >= 0 && x < width) picture[y * width + x] = index;
    };
    if (phase == 0) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width / 8 * 8; ++x) put(x, y, kWhite);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 330; ++x) put(left + x, y, ruler[y * 330 + x]);
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 5; ++x) {
            put(left - 10 * phase + x, y, 0);
            put(left + 325 + 10 * phase + x, y, 0);
        }
}

std::string FirstDifference(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual,
                            int width) {
    if (expected.size() != actual.size()) return "sizes " + std::to_string(actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return "column " + std::to_string(i % width) + " row " + std::to_string(i / width) + ": expected " +
                   std::to_string(expected[i]) + ", got " + std::to_string(actual[i]);
    return "";
}

class ComposeOnRealSurfaces : public ::testing::TestWithParam<std::pair<int, int>> {
protected:
    void SetUp() override {
        directDraw = CreateRealDirectDraw();
        ASSERT_NE(nullptr, directDraw);
        palette = LoadPaletteFromBitmap(directDraw, g_patternName);
        g_patternSurface = CreatePlainSurface(directDraw, 330, 768);
        ASSERT_NE(nullptr, g_patternSurface);
        g_patternSurface->SetPalette(palette);
        ASSERT_EQ(1, LoadPatternImage());
        ruler = RulerIndices();
        ASSERT_EQ(ReadSurface(g_patternSurface), ruler) << "the ruler did not reach the pattern surface";
    }
    void TearDown() override {
        for (IDirectDrawSurface7** surface : {&g_workSurface, &g_backBuffer, &g_patternSurface})
            if (*surface) (*surface)->Release(), *surface = nullptr;
        if (palette) palette->Release();
        if (directDraw) directDraw->Release();
        g_markerPhase = 0;
        g_screenWidth = 1024, g_screenHeight = 768;
    }

    IDirectDraw7* directDraw = nullptr;
    IDirectDrawPalette* palette = nullptr;
    std::vector<std::uint8_t> ruler;
};

TEST_P(ComposeOnRealSurfaces, FivePhasesBuildThePicture) {
    const int width = GetParam().first, height = GetParam().second;
    g_screenWidth = width, g_screenHeight = height;
    g_workSurface = CreatePlainSurface(directDraw, width, height);
    g_backBuffer = CreatePlainSurface(directDraw, width, height);
    ASSERT_TRUE(g_workSurface && g_backBuffer);
    FillSurface(g_workSurface, kUntouched);
    FillSurface(g_backBuffer, kUntouched);
    g_markerPhase = 0;

    std::vector<std::uint8_t> expected(static_cast<std::size_t>(width) * height, kUntouched);
    for (int phase = 0; phase < 5; ++phase) {
        EXPECT_EQ(DD_OK, ComposeFrame()) << "phase " << phase;
        DrawExpected(expected, ruler, width, height, phase);
        EXPECT_EQ("", FirstDifference(expected, ReadSurface(g_workSurface), width)) << "work surface, phase " << phase;
        EXPECT_EQ("", FirstDifference(expected, ReadSurface(g_backBuffer), width)) << "back buffer, phase " << phase;
    }
    EXPECT_EQ(0, g_markerPhase);
    // The next frame starts the cycle again: background and ruler, no bars.
    ComposeFrame();
    DrawExpected(expected, ruler, width, height, 0);
    EXPECT_EQ("", FirstDifference(expected, ReadSurface(g_backBuffer), width)) << "phase 0 again";
}

// 1020 leaves its last 4 columns untouched; 1023 puts the ruler half a column left;
// 300 clips the ruler on both sides.
INSTANTIATE_TEST_SUITE_P(Sizes, ComposeOnRealSurfaces,
                         ::testing::Values(std::make_pair(1024, 768), std::make_pair(1023, 768),
                                           std::make_pair(1020, 768), std::make_pair(800, 600),
                                           std::make_pair(640, 480), std::make_pair(300, 200)),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
                         });

}  // namespace
