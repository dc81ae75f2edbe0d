// Composing the screen as the program does: background tiles and ruler in phase 0,
// then one more pair of bars per phase, drawn over what the earlier phases left.
#include "photo/model/pictures.h"

#include <algorithm>

namespace velmaro::photo {

namespace {

constexpr int kTileWidth = 8;
constexpr std::uint8_t kWhite = 255, kBlack = 0;

// Copies columns [from, from + count) of source to column at of target, clipped.
void PasteColumns(const cv::Mat1b& source, int from, int count, cv::Mat1b& target, int at) {
    const int first = std::max(at, 0), last = std::min(at + count, target.cols);
    if (first >= last) return;
    source(cv::Rect(from + first - at, 0, last - first, target.rows)).copyTo(target(cv::Rect(first, 0, last - first, target.rows)));
}

}  // namespace

ScreenLayout LayoutFor(int width, int height) {
    ScreenLayout layout;
    layout.width = width;
    layout.height = height;
    layout.rulerLeft = (width - kRulerWidth) / 2;  // truncates toward zero, as the program does
    layout.drawnWidth = width / kTileWidth * kTileWidth;
    return layout;
}

std::array<cv::Mat1b, kPhases> ScreenPictures(const Ruler& ruler, int width, int height) {
    const ScreenLayout layout = LayoutFor(width, height);
    const cv::Mat1b rulerTop = ruler.grey.rowRange(0, std::min(height, kRulerHeight));
    cv::Mat1b screen(height, width, kBlack);
    screen.colRange(0, layout.drawnWidth).setTo(kWhite);
    PasteColumns(rulerTop, 0, kRulerWidth, screen, layout.rulerLeft);

    std::array<cv::Mat1b, kPhases> pictures;
    const cv::Mat1b bar(height, kBarWidth, kBlack);
    for (int phase = 0; phase < kPhases; ++phase) {
        if (phase > 0) {
            PasteColumns(bar, 0, kBarWidth, screen, layout.BarColumn(-1, phase));
            PasteColumns(bar, 0, kBarWidth, screen, layout.BarColumn(+1, phase));
        }
        pictures[phase] = screen.clone();
    }
    return pictures;
}

}  // namespace velmaro::photo
