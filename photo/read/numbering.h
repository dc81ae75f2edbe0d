// Numbering the lines of a piece: the ruler is known, so the piece's rows are matched
// against the ruler's rows at every offset that keeps the lines' parity; the labels and
// arrowheads tell the offsets apart where the ticks repeat every ten lines.
#pragma once

#include <opencv2/core.hpp>

#include <optional>

#include "photo/model/pictures.h"
#include "photo/read/grid.h"

namespace velmaro::photo {

struct Numbering {
    int offset = 0;           // screen line coordinate = grid u + offset; a multiple of the grid's period
    bool certain = false;     // the best offset stands out from every other
    double mismatch = 0;      // of the best offset
    double runnerUp = 0;      // of the best other offset
};

std::optional<Numbering> NumberLines(const cv::Mat1b& sharp, const Grid& grid, const ScreenLayout& layout,
                                     const cv::Mat1f& rulerLinear);

}  // namespace velmaro::photo
