// Where the screen lands in a photograph: a projective mapping from screen positions to
// photo positions, shared by the simulator, which places the screen, and the reader,
// which finds it.
//
// Coordinates: screen column x and line n cover [x, x + 1) x [n - 1, n), so that a
// screen position is (column, line coordinate u); photo pixel (i, j) covers
// [i, i + 1) x [j, j + 1).
#pragma once

#include <opencv2/core.hpp>

namespace velmaro::photo {

cv::Point2d Apply(const cv::Matx33d& homography, cv::Point2d point);

// The inverse mapping, also of a nearly singular one (by SVD).
cv::Matx33d Inverse(const cv::Matx33d& homography);

}  // namespace velmaro::photo
