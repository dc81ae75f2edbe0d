// Sampling a photograph at screen positions through a grid: the photo as the screen
// showed it, one column per screen column and as many rows per line as asked.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace velmaro::photo {

// Linear light at a photo point (pixel i covers [i, i + 1)) of an 8-bit sRGB image,
// interpolated between pixels in linear light; NaN outside the image.
double SampleAt(const cv::Mat1b& image, cv::Point2d point);

// Rows at the line coordinates u, columns at the screen columns X (positions, not
// pixel indices: a column's middle is X + 0.5). Outside the photo: NaN.
cv::Mat1f SampleScreen(const cv::Mat1b& image, const cv::Matx33d& screenToPhoto, const std::vector<double>& columns,
                       const std::vector<double>& lines);

// Linear light of an 8-bit sRGB image, resampled on a grid: output (i, j) comes from
// photo point origin + i * xStep + j * yStep; 0 outside the image.
cv::Mat1f ResampleLinear(const cv::Mat1b& image, cv::Point2d origin, cv::Point2d xStep, cv::Point2d yStep, cv::Size size);

// Evenly spaced positions from first, count of them, step apart.
std::vector<double> Positions(double first, int count, double step);

}  // namespace velmaro::photo
