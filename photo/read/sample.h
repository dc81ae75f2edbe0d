// Sampling a photograph at screen positions through a grid: the photo as the screen
// showed it, one column per screen column and as many rows per line as asked.
#pragma once

#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "photo/model/srgb.h"

namespace velmaro::photo {

// Linear light of an 8-bit sRGB image between the four pixels around (x, y), pixel centres
// at whole numbers; NaN outside the image. Inline: the grid's fits take millions of these.
inline double Bilinear(const cv::Mat1b& image, const std::array<float, 256>& linear, double x, double y) {
    if (!(x >= 0 && y >= 0 && x <= image.cols - 1 && y <= image.rows - 1)) return std::numeric_limits<double>::quiet_NaN();
    const int i = std::min(static_cast<int>(x), image.cols - 2), j = std::min(static_cast<int>(y), image.rows - 2);
    const double fx = x - i, fy = y - j;
    const std::uint8_t* top = image.ptr<std::uint8_t>(j);
    const std::uint8_t* bottom = top + image.step[0];
    return (linear[top[i]] * (1 - fx) + linear[top[i + 1]] * fx) * (1 - fy) +
           (linear[bottom[i]] * (1 - fx) + linear[bottom[i + 1]] * fx) * fy;
}

// Linear light at a photo point (pixel i covers [i, i + 1)) of an 8-bit sRGB image,
// interpolated between pixels in linear light; NaN outside the image.
inline double SampleAt(const cv::Mat1b& image, cv::Point2d point) {
    return Bilinear(image, LinearOf8Bit(), point.x - 0.5, point.y - 0.5);
}

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
