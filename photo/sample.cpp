#include "photo/sample.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

namespace velmaro::photo {

double SampleAt(const cv::Mat1f& image, cv::Point2d point) {
    const double x = point.x - 0.5, y = point.y - 0.5;
    if (!(x >= 0 && y >= 0 && x <= image.cols - 1 && y <= image.rows - 1)) return std::numeric_limits<double>::quiet_NaN();
    const int i = std::min(static_cast<int>(x), image.cols - 2), j = std::min(static_cast<int>(y), image.rows - 2);
    const double fx = x - i, fy = y - j;
    const float* top = image.ptr<float>(j);
    const float* bottom = image.ptr<float>(j + 1);
    return (top[i] * (1 - fx) + top[i + 1] * fx) * (1 - fy) + (bottom[i] * (1 - fx) + bottom[i + 1] * fx) * fy;
}

cv::Mat1f SampleScreen(const cv::Mat1f& image, const cv::Matx33d& h, const std::vector<double>& columns,
                       const std::vector<double>& lines) {
    const int width = static_cast<int>(columns.size()), height = static_cast<int>(lines.size());
    cv::Mat1f out(height, width);
    if (width == 0 || height == 0) return out;
    cv::Mat1f mapX(height, width), mapY(height, width);
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const double X = columns[i], u = lines[j];
            const double w = h(2, 0) * X + h(2, 1) * u + h(2, 2);
            mapX(j, i) = static_cast<float>((h(0, 0) * X + h(0, 1) * u + h(0, 2)) / w - 0.5);
            mapY(j, i) = static_cast<float>((h(1, 0) * X + h(1, 1) * u + h(1, 2)) / w - 0.5);
        }
    }
    cv::remap(image, out, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, std::numeric_limits<float>::quiet_NaN());
    return out;
}

std::vector<double> Positions(double first, int count, double step) {
    std::vector<double> positions(std::max(count, 0));
    for (int i = 0; i < count; ++i) positions[i] = first + i * step;
    return positions;
}

}  // namespace velmaro::photo
