// The five pictures that velmaro.exe puts on a screen of a given size: a white screen,
// the ruler in the middle, and in phase p the bars 1..p on both sides of it.
#pragma once

#include <opencv2/core.hpp>

#include <array>

#include "photo/model/ruler.h"

namespace velmaro::photo {

constexpr int kPhases = 5;
constexpr int kBars = 4;
constexpr int kBarWidth = 5;
constexpr int kBarStep = 10;

struct ScreenLayout {
    int width = 0, height = 0;
    int rulerLeft = 0;    // screen column of the ruler's column 0
    int drawnWidth = 0;   // columns from this one on are never drawn (whole 8-column tiles)

    // First screen column of bar j (1..4) left (side -1) or right (side +1) of the ruler.
    int BarColumn(int side, int bar) const {
        return side < 0 ? rulerLeft - kBarStep * bar : rulerLeft + kRulerWidth - kBarWidth + kBarStep * bar;
    }
};

ScreenLayout LayoutFor(int width, int height);

// Grey values (sRGB) of the whole screen after a frame of each phase; columns that are
// never drawn are black.
std::array<cv::Mat1b, kPhases> ScreenPictures(const Ruler& ruler, int width, int height);

}  // namespace velmaro::photo
