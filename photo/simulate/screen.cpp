#include "photo/simulate/screen.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmaro::photo {

namespace {

double Phi(double z) {
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

// Integral of Phi from minus infinity to z.
double PhiIntegral(double z) {
    return z * Phi(z) + std::exp(-z * z / 2) / std::sqrt(2 * 3.14159265358979323846);
}

// Share of a line's light that lies less than y lines below the line's top.
double LightAbove(const LineShape& shape, double y) {
    if (shape.spot > 0) return Phi((y - 0.5) / std::hypot(shape.spot, shape.smoothing));
    const double lit = 1 - shape.matrix, s = shape.smoothing;
    if (s <= 0) return std::clamp(y / lit, 0.0, 1.0);
    return s / lit * (PhiIntegral(y / s) - PhiIntegral((y - lit) / s));
}

// Length of [from, to) inside [low, high).
double Overlap(double from, double to, double low, double high) {
    return std::max(0.0, std::min(to, high) - std::max(from, low));
}

// Shares of each pixel (along one axis, pixel i covering [(i - pad) / per, ...)) inside
// [-margin, extent + margin).
std::vector<double> Covered(int count, int pad, int per, double extent, double margin) {
    std::vector<double> covered(count);
    for (int i = 0; i < count; ++i) {
        const double from = static_cast<double>(i - pad) / per, to = from + 1.0 / per;
        covered[i] = Overlap(from, to, -margin, extent + margin) * per;
    }
    return covered;
}

// A column's light spread sideways by the beam's spot, each column taken as evenly lit.
cv::Mat1f SpreadAcross(const cv::Mat1f& light, double spot) {
    if (spot <= 0) return light;
    const int reach = static_cast<int>(std::ceil(4 * spot + 1));
    cv::Mat1f kernel(1, 2 * reach + 1);
    for (int d = -reach; d <= reach; ++d)
        kernel(0, d + reach) = static_cast<float>(Phi((d + 0.5) / spot) - Phi((d - 0.5) / spot));
    cv::Mat1f spread;
    cv::filter2D(light, spread, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_CONSTANT);
    return spread;
}

}  // namespace

ScreenImage Surroundings(const Planes& light, const LineShape& shape, const Surround& s) {
    const int width = light[0].cols, height = light[0].rows, per = kRowsPerLine;
    const int padX = static_cast<int>(std::ceil(s.border.x + s.bezel.x)) + 2;
    const int padY = (static_cast<int>(std::ceil(s.border.y + s.bezel.y)) + 2) * per;
    const int cols = width + 2 * padX, rows = height * per + 2 * padY;
    ScreenImage image;
    image.rowsPerLine = per;
    image.origin = {static_cast<double>(padX), static_cast<double>(padY)};
    image.wall = static_cast<float>(s.wallLight);

    // Sub-row j of line n gathers weights[j][d] of line n - d's light.
    const double sigma = shape.spot > 0 ? std::hypot(shape.spot, shape.smoothing) : shape.smoothing;
    const int reach = static_cast<int>(std::ceil(4 * sigma + 1)), taps = 2 * reach + 1;
    std::vector<float> weights(static_cast<std::size_t>(per) * taps);
    for (int j = 0; j < per; ++j)
        for (int d = -reach; d <= reach; ++d)
            weights[j * taps + d + reach] = static_cast<float>(
                per * (LightAbove(shape, (j + 1.0) / per + d) - LightAbove(shape, static_cast<double>(j) / per + d)));

    const std::vector<double> glassX = Covered(cols, padX, 1, width, s.border.x);
    const std::vector<double> glassY = Covered(rows, padY, per, height, s.border.y);
    const std::vector<double> bezelX = Covered(cols, padX, 1, width, s.border.x + s.bezel.x);
    const std::vector<double> bezelY = Covered(rows, padY, per, height, s.border.y + s.bezel.y);
    for (int c = 0; c < kChannels; ++c) {
        const cv::Mat1f spread = SpreadAcross(light[c], shape.spot);
        cv::Mat1f& plane = image.planes[c];
        plane.create(rows, cols);
        cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
            for (int r = range.start; r < range.end; ++r) {
                float* out = plane.ptr<float>(r);
                for (int x = 0; x < cols; ++x) {
                    const double glass = glassX[x] * glassY[r], bezel = bezelX[x] * bezelY[r];
                    out[x] = static_cast<float>(s.glass * glass + s.bezelLight * (bezel - glass) +
                                                s.wallLight * (1 - bezel));
                }
                const int sub = r - padY, n = sub >= 0 ? sub / per : -((-sub + per - 1) / per), j = sub - n * per;
                for (int d = -reach; d <= reach; ++d) {
                    if (n - d < 0 || n - d >= height) continue;
                    const float w = weights[j * taps + d + reach];
                    const float* in = spread.ptr<float>(n - d);
                    for (int x = 0; x < width; ++x) out[padX + x] += w * in[x];
                }
            }
        });
    }
    return image;
}

}  // namespace velmaro::photo
