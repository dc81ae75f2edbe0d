// Finding the pattern in a photograph: the lit parts of the screen (the whole screen,
// or on a CRT one band or two), the axes of its pattern, and where the ruler lies along
// the lines and how large. What this finds is rough; the grid stage makes it exact.
#pragma once

#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
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
    // At least twice as long as it is thick: a band that a slit may have slanted.
    bool Elongated() const { return LongSide() >= 2 * ShortSide(); }
    // The ends of its long axis: the middles of its short sides.
    std::pair<cv::Point2d, cv::Point2d> LongAxisEnds() const;
};

// Lit regions of the sharp channel, largest first; none when nothing stands out from
// the dark.
std::vector<Piece> FindLitRegions(const cv::Mat1b& sharp);

// Candidates for the two axes of the screen's pattern in a piece, up to their signs, from the directions
// in which its light changes inside the piece: everything on the screen is drawn along
// lines and columns, at any rotation of the photo.
// The most likely first, each as its two perpendicular directions.
std::vector<cv::Point2d> PatternAxes(const cv::Mat1b& sharp, const Piece& piece);

// A first, affine, guess of where screen columns and lines of the piece are: screen
// column X and line coordinate u (relative: the piece's middle is near 0) to photo.
struct RoughGrid {
    cv::Matx33d screenToPhoto;
    double match = 0;  // correlation of the ruler's column profile
    double scale = 0;  // photo pixels per column
};

// The ruler's column profile, looked for along both axes of the pattern at any scale: the
// lines run along the axis where it is found. Which way is up, and which side is left, the
// labels tell later. Every axis's best match, the likeliest first: where a slanted band
// matches it about as well along a wrong axis, the grid's fit tells them apart.
std::vector<RoughGrid> FindRulers(const cv::Mat1b& sharp, const Piece& piece, const ScreenLayout& layout,
                                  const cv::Mat1f& rulerLinear);

// The likeliest of them.
std::optional<RoughGrid> FindRuler(const cv::Mat1b& sharp, const Piece& piece, const ScreenLayout& layout,
                                   const cv::Mat1f& rulerLinear);

// The ruler's grey values as linear light.
cv::Mat1f RulerLinear(const cv::Mat1b& rulerGrey);

}  // namespace velmaro::photo
