// Finding the pattern in a photograph: the lit parts of the screen (the whole screen,
// or on a CRT one band or two), the direction and pitch of the scan lines from the
// ruler's line stripes, and where the ruler lies along the lines. What this finds is
// rough; the grid stage makes it exact.
#pragma once

#include <opencv2/core.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "photo/model/pictures.h"

namespace velmaro::photo {

// One lit region of the screen, in photo coordinates.
struct Piece {
    std::vector<cv::Point2f> outline;  // convex hull
    cv::RotatedRect box;
    double area = 0;

    double LongSide() const { return std::max(box.size.width, box.size.height); }
    double ShortSide() const { return std::min(box.size.width, box.size.height); }
};

// Lit regions of the sharp channel, largest first; none when nothing stands out from
// the dark.
std::vector<Piece> FindLitRegions(const cv::Mat1b& sharp);

struct Stripes {
    cv::Point2d normal;  // unit vector across the lines, pointing down the screen
    double pitch = 0;    // photo pixels from one line to the next along the normal
};

// The line stripes of a piece, from the spectrum of its middle part. The piece spans
// the screen's width, which gives the pitch roughly.
std::optional<Stripes> FindStripes(const cv::Mat1b& sharp, const Piece& piece, int screenWidth);

// What the piece's shape alone says of the lines: across its longer side, at the pitch
// that spans the screen's width over the piece's length.
Stripes GuessStripes(const Piece& piece, int screenWidth);

// A first, affine, guess of where screen columns and lines of the piece are: screen
// column X and line coordinate u (relative: the piece's middle is near 0) to photo.
struct RoughGrid {
    cv::Matx33d screenToPhoto;
    double match = 0;  // correlation of the ruler's column profile
};

std::optional<RoughGrid> FindRuler(const cv::Mat1b& sharp, const Piece& piece, const Stripes& stripes,
                                   const ScreenLayout& layout, const cv::Mat1f& rulerLinear);

// The ruler's grey values as linear light.
cv::Mat1f RulerLinear(const cv::Mat1b& rulerGrey);

}  // namespace velmaro::photo
