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

// Screen columns (their middles) that show the same in every phase, and those of bars.
struct Columns {
    std::vector<std::vector<double>> whiteGroups;  // always white, in groups across the screen
    std::array<std::vector<double>, kBars> bars;   // the middles of bar j + 1, both sides
    std::vector<double> barWhite;                  // white gaps between the bars
    std::vector<double> black;                     // the ruler's edge strips
};

Columns ColumnsFor(const ScreenLayout& layout);

}  // namespace velmaro::photo
