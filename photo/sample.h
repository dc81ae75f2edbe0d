// Sampling a photograph at screen positions through a grid: the photo as the screen
// showed it, one column per screen column and as many rows per line as asked.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace velmaro::photo {

// Bilinear value at a photo point (pixel i covers [i, i + 1)); NaN outside the image.
double SampleAt(const cv::Mat1f& image, cv::Point2d point);

// Rows at the line coordinates u, columns at the screen columns X (positions, not
// pixel indices: a column's middle is X + 0.5). Outside the photo: NaN.
cv::Mat1f SampleScreen(const cv::Mat1f& image, const cv::Matx33d& screenToPhoto, const std::vector<double>& columns,
                       const std::vector<double>& lines);

// Evenly spaced positions from first, count of them, step apart.
std::vector<double> Positions(double first, int count, double step);

}  // namespace velmaro::photo
