// The exact grid of one lit piece: where each screen column and line lies in the
// photo. The ruler's ticks of every tenth line fix the lines modulo ten, through blur;
// those of every fifth line, between them, keep the pitch in a band too short for two
// tenths; its line stripes, where blur left them, fix them to a hundredth of a line
// modulo two; its black edge strips fix the columns; together they give a homography.
#pragma once

#include <opencv2/core.hpp>

#include <optional>

#include "photo/read/locate.h"

namespace velmaro::photo {

// Line stripes whose contrast the photo kept below this (amplitude over mean) are not used.
constexpr double kFaintestStripes = 0.08;

// Lines (RMS) that the marks may stray from a grid that registers them: one fitted worse
// misplaces the labels' strokes by more than they are wide, or was fitted to something
// other than the ruler.
constexpr double kRegisteredWithin = 0.3;

struct Grid {
    // Screen column X and line coordinate u to photo coordinates. Line n covers
    // u in [n - 1, n); until the piece is numbered, u is off by a multiple of `period`.
    cv::Matx33d screenToPhoto;
    double firstU = 0, lastU = 0;  // the piece's extent in u
    int period = 2;                // lines: u is known modulo this before the numbering
    double stripeResidual = 0;     // RMS of the marks' phases against the grid, lines
    double modulation = 0;         // median stripe amplitude over mean level: blur lowers it
};

std::optional<Grid> FitGrid(const cv::Mat1b& sharp, const Piece& piece, const RoughGrid& rough,
                            const ScreenLayout& layout);

// The u extent of a piece's outline under a grid.
std::pair<double, double> LineExtent(const Piece& piece, const cv::Matx33d& screenToPhoto);

}  // namespace velmaro::photo
