// The screen as the photograph shows it: the numbered pieces' grids put together, so
// that any screen position can be sampled, and the columns worth sampling.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <vector>

#include "photo/model/pictures.h"

namespace velmaro::photo {

struct PlacedGrid {
    cv::Matx33d screenToPhoto;  // screen column and absolute line coordinate to photo
    double firstU = 0, lastU = 0;
    int period = 0;  // where the lines are not numbered, the lines their coordinate is known modulo; else 0
};

// Rows take the grid of the piece nearest to them.
struct ScreenView {
    std::vector<PlacedGrid> grids;
    const PlacedGrid& For(double u) const;
};

cv::Mat1f SampleView(const cv::Mat1b& sharp, const ScreenView& view, const std::vector<double>& columns,
                     const std::vector<double>& lines);

// The bars on one side of the ruler and what their light is measured against, beside
// them in every phase: the ruler's black edge strip, as wide as a bar and set between
// white as a bar is, so that blur spills as much white into its middle as into a black
// bar's; and the white on either side of the row of bars, the ruler's margin inside and
// the background outside, wide enough that blur takes nothing from their middles (the
// white gaps between the bars lose to the bars beside them). Vignetting dims the white
// across the row by as much as a bar's share may need to be told: it is taken at each
// bar between the two.
struct BarSide {
    std::array<std::vector<double>, kBars> bars;  // the middles of bar j + 1
    std::vector<double> black, inner, outer;
    // The ruler's line stripes on this side, clear of their ends' blur: white and black
    // lines in turn, whose blurred mean is half way between the two wherever the white
    // beside the bars is clipped and the stripes' peaks are not.
    std::vector<double> stripes;
};

// Screen columns (their middles) that show the same in every phase, and those of bars.
struct Columns {
    std::vector<std::vector<double>> whiteGroups;  // always white, in groups across the screen
    std::array<BarSide, 2> barSides;               // left of the ruler, right of it
    std::vector<double> black;                     // the ruler's edge strips, both
};

Columns ColumnsFor(const ScreenLayout& layout);

}  // namespace velmaro::photo
