// The bars as a clock. Bar j is black in phases j..4 and white in phases 0..j-1, so on
// a line its brightness over the white beside it is the share of the line's light that
// came from phases below j; the four bars give the share of every phase.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <optional>
#include <utility>

#include "photo/model/pictures.h"
#include "photo/read/view.h"

namespace velmaro::photo {

using BarShares = std::array<double, kBars>;     // bar j + 1 over white, 0 ... 1
using PhaseShares = std::array<double, kPhases>;  // of the light, by phase
using PhaseCounts = std::array<int, kPhases>;     // passes, by phase

// Bar shares of each line 1..height (row n - 1), the two sides' mean; NaN where both
// sides' bars are off the screen or the line is unlit.
cv::Mat1f BarSharesByLine(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height);

// The same where the white beside the bars is clipped: each side's white is twice the
// ruler's line stripes' mean over two lines, less black (NaN where the stripes clip too).
// Those shares are known only to a factor: the true ones lie between `least` and `most`
// times them.
struct StripesShares {
    cv::Mat1f shares;
    double least = 1, most = 1;
};
StripesShares BarSharesFromStripes(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height);

// The mean of the ruler's stripes on the two lines about each sample of a profile sampled
// `perLine` times a line (samples `perLine` * 2 apart hold one white and one black line);
// the ends, with fewer samples about them, are the mean of those there are.
std::vector<float> StripesMean(const std::vector<float>& samples, int perLine);

// The same from the bars on one side of the ruler alone (side -1 left, +1 right), under a band
// slanted `slope` lines down per column: each column is read as far down from line n at
// screen column `column` as the slant takes the band, so that every bar of the side shows
// the same place in the band. Row n - 1 is line n at `column`; NaN off the screen.
cv::Mat1f BarSharesAlong(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height, int side,
                         double column, double slope);

// The mean shares of the lines whose middles lie in [from, to] (line coordinates).
std::optional<BarShares> MeanShares(const cv::Mat1f& byLine, double from, double to);

PhaseShares SharesOfPhases(const BarShares& bars);

// How many of `passes` passes showed each phase; nullopt when the shares do not come
// out as whole passes.
std::optional<PhaseCounts> CountPhases(const BarShares& bars, int passes);

// How far the shares lie from whole passes: the largest miss of a phase, in passes, by
// the whole counts nearest them that add up to `passes`.
double WholePassMisfit(const BarShares& bars, int passes);

}  // namespace velmaro::photo
