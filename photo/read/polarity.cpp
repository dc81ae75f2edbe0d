#include "photo/read/polarity.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "photo/model/srgb.h"

namespace velmaro::photo {

namespace {

constexpr double kFilmGamma = 0.6;      // density per decade of light: a negative film's usual contrast
constexpr double kClearShare = 0.995;   // of the photo's values, at or below the clear film's
constexpr double kDenseShare = 0.001;   // ... at or below the densest part's, the most light
constexpr double kEdgeShare = 0.05;     // of the photo's size: its edge, taken all round
constexpr double kLightEdge = 0.6;      // of the clear film's value, above which the edge looks clear

std::array<int, 256> Histogram(const cv::Mat1b& image, const cv::Mat1b& mask = cv::Mat1b()) {
    std::array<int, 256> counts{};
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x)
            if (mask.empty() || mask(y, x)) ++counts[image(y, x)];
    return counts;
}

int Percentile(const std::array<int, 256>& counts, double share) {
    long long total = 0;
    for (int c : counts) total += c;
    long long seen = 0;
    for (int v = 0; v < 256; ++v)
        if ((seen += counts[v]) > share * (total - 1)) return v;
    return 255;
}

// A small copy: the decisions need the levels, not the detail.
cv::Mat1b Sampled(const cv::Mat1b& image) {
    const int step = std::max(1, std::max(image.cols, image.rows) / 512);
    cv::Mat1b small((image.rows + step - 1) / step, (image.cols + step - 1) / step);
    for (int y = 0; y < small.rows; ++y)
        for (int x = 0; x < small.cols; ++x) small(y, x) = image(y * step, x * step);
    return small;
}

}  // namespace

bool LooksNegative(const cv::Mat1b& sharp) {
    const cv::Mat1b small = Sampled(sharp);
    cv::Mat1b edge(small.size(), std::uint8_t{255});
    const int bx = std::max(1, static_cast<int>(kEdgeShare * small.cols)), by = std::max(1, static_cast<int>(kEdgeShare * small.rows));
    edge(cv::Rect(bx, by, std::max(0, small.cols - 2 * bx), std::max(0, small.rows - 2 * by))) = 0;
    const auto& linear = LinearOf8Bit();
    const double clear = linear[Percentile(Histogram(small), kClearShare)];
    const double border = linear[Percentile(Histogram(small, edge), 0.5)];
    return clear > 0 && border > kLightEdge * clear;
}

cv::Mat1b PositiveOf(const cv::Mat1b& negative) {
    const auto& linear = LinearOf8Bit();
    const std::array<int, 256> counts = Histogram(Sampled(negative));
    const double clear = std::max(linear[Percentile(counts, kClearShare)], 1e-4f);
    const double densest = std::max(linear[Percentile(counts, kDenseShare)], 1e-5f);
    // Light over the clear film's: (clear / t)^(1 / gamma) - 1, by code, scaled so that the
    // densest part is white.
    auto lightOf = [&](double t) { return std::max(0.0, std::pow(clear / std::max(t, 1e-5), 1 / kFilmGamma) - 1); };
    const double most = std::max(lightOf(densest), 1e-9);
    std::array<double, 256> light{};
    for (int v = 0; v < 256; ++v) light[v] = lightOf(linear[v]);
    cv::Mat1b table(1, 256);
    for (int v = 0; v < 256; ++v)
        table(0, v) = static_cast<std::uint8_t>(std::lround(255 * LinearToSrgb(std::min(1.0, light[v] / most))));
    cv::Mat1b positive;
    cv::LUT(negative, table, positive);
    return positive;
}

}  // namespace velmaro::photo
