// Numbering the lines of a piece: the ruler is known, so the piece's rows are matched
// against the ruler's rows at every offset that keeps the lines' parity; the labels and
// arrowheads tell the offsets apart where the ticks repeat every ten lines.
#pragma once

#include <opencv2/core.hpp>

#include <optional>

#include "photo/model/pictures.h"
#include "photo/read/grid.h"

namespace velmaro::photo {

// How the grid's lines and columns are the screen's: line L of the grid is the screen's
// line L + offset, or offset - L + 1 where the photo shows the screen upside down; its
// columns run the screen's way, or the other way round (a mirrored or turned photo).
struct Numbering {
    int offset = 0;
    bool flipLines = false, flipColumns = false;
    bool certain = false;     // the best offset stands out from every other
    double mismatch = 0;      // of the best offset
    double runnerUp = 0;      // of the best other offset
};

std::optional<Numbering> NumberLines(const cv::Mat1b& sharp, const Grid& grid, const ScreenLayout& layout,
                                     const cv::Mat1f& rulerLinear);

}  // namespace velmaro::photo
