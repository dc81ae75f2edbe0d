// The exact grid of one lit piece: where each screen column and line lies in the
// photo. The ruler's line stripes fix the lines to a fraction of a line (their phase)
// and its black edge strips fix the columns; together they give a homography.
#pragma once

#include <opencv2/core.hpp>

#include <optional>

#include "photo/read/locate.h"

namespace velmaro::photo {

struct Grid {
    // Screen column X and line coordinate u to photo coordinates. Line n covers
    // u in [n - 1, n); until the piece is numbered, u is off by an even number.
    cv::Matx33d screenToPhoto;
    double firstU = 0, lastU = 0;  // the piece's extent in u
    double stripeResidual = 0;     // RMS of the stripe phases against the grid, lines
    double modulation = 0;         // median stripe amplitude over mean level: blur lowers it
};

std::optional<Grid> FitGrid(const cv::Mat1b& sharp, const Piece& piece, const RoughGrid& rough,
                            const ScreenLayout& layout);

// The u extent of a piece's outline under a grid.
std::pair<double, double> LineExtent(const Piece& piece, const cv::Matx33d& screenToPhoto);

}  // namespace velmaro::photo
