#include "photo/read/sample.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

#include "photo/model/geometry.h"
#include "photo/model/srgb.h"

namespace velmaro::photo {

cv::Mat1f SampleScreen(const cv::Mat1b& image, const cv::Matx33d& h, const std::vector<double>& columns,
                       const std::vector<double>& lines) {
    cv::Mat1f out(static_cast<int>(lines.size()), static_cast<int>(columns.size()));
    const auto& linear = LinearOf8Bit();
    cv::parallel_for_(cv::Range(0, out.rows), [&](const cv::Range& rows) {
        for (int j = rows.start; j < rows.end; ++j) {
            float* row = out.ptr<float>(j);
            // The mapping's terms of the row's line, taken once for all its columns.
            const double u = lines[j], x0 = h(0, 1) * u + h(0, 2), y0 = h(1, 1) * u + h(1, 2), w0 = h(2, 1) * u + h(2, 2);
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const double x = columns[i], w = h(2, 0) * x + w0;
                row[i] = static_cast<float>(Bilinear(image, linear, (h(0, 0) * x + x0) / w - 0.5, (h(1, 0) * x + y0) / w - 0.5));
            }
        }
    });
    return out;
}

cv::Mat1f ResampleLinear(const cv::Mat1b& image, cv::Point2d origin, cv::Point2d xStep, cv::Point2d yStep, cv::Size size) {
    // OpenCV puts pixel centres at whole numbers: photo coordinate c is c - 0.5 there.
    const cv::Matx23d map(xStep.x, yStep.x, origin.x - 0.5, xStep.y, yStep.y, origin.y - 0.5);
    cv::Mat1b resampled;
    cv::warpAffine(image, resampled, cv::Mat(map), size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, 0);
    const auto& linear = LinearOf8Bit();
    cv::Mat1f out(size);
    std::transform(resampled.begin(), resampled.end(), out.begin(), [&](std::uint8_t v) { return linear[v]; });
    return out;
}

std::vector<double> Positions(double first, int count, double step) {
    std::vector<double> positions(std::max(count, 0));
    for (int i = 0; i < count; ++i) positions[i] = first + i * step;
    return positions;
}

}  // namespace velmaro::photo
