#include "photo/read/locate.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>

#include "photo/model/srgb.h"
#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr double kOverviewSize = 1024;     // pixels along the longer side of the overview
constexpr double kLitShare = 0.35;         // of the way from dark to bright
constexpr double kSmallestPiece = 0.002;   // of the overview's area
constexpr double kShortestPeriod = 3.2;    // photo pixels per stripe period (two lines)
constexpr double kLongestPeriod = 80;
constexpr double kStripeTilt = 35 * CV_PI / 180;  // lines against the piece's long side, at most
constexpr double kLongestPatch = 640;              // samples along the lines for the stripes' spectrum


// Unit vectors along the box's longer side (pointing right) and across it (down).
void BoxAxes(const cv::RotatedRect& box, cv::Point2d& along, cv::Point2d& across) {
    cv::Point2f corners[4];
    box.points(corners);
    cv::Point2d a = corners[1] - corners[0], b = corners[2] - corners[1];
    cv::Point2d longer = cv::norm(a) >= cv::norm(b) ? a : b;
    longer /= cv::norm(longer);
    if (longer.x < 0) longer = -longer;
    along = longer;
    across = {-longer.y, longer.x};
}

double ParabolicPeak(double left, double centre, double right) {
    const double denominator = left - 2 * centre + right;
    return denominator < 0 ? 0.5 * (left - right) / denominator : 0;
}

}  // namespace

cv::Mat1f RulerLinear(const cv::Mat1b& rulerGrey) {
    const cv::Mat1f table(1, 256, const_cast<float*>(LinearOf8Bit().data()));
    cv::Mat1f linear;
    cv::LUT(rulerGrey, table, linear);
    return linear;
}

std::vector<Piece> FindLitRegions(const cv::Mat1b& sharp) {
    const double r = std::min(1.0, kOverviewSize / std::max(sharp.cols, sharp.rows));
    // Point samples are enough to tell the lit screen from the dark; the blur smooths
    // what they miss. Levels come from the 8-bit values' histogram.
    cv::Mat1b small;
    cv::resize(sharp, small, cv::Size(), r, r, cv::INTER_NEAREST);
    cv::blur(small, small, {3, 3});
    std::array<int, 256> histogram{};
    for (std::uint8_t v : small) ++histogram[v];
    const auto& linear = LinearOf8Bit();
    auto percentile = [&](double share) {
        const auto wanted = static_cast<long long>(share * (small.total() - 1));
        long long seen = 0;
        for (int v = 0; v < 256; ++v)
            if ((seen += histogram[v]) > wanted) return static_cast<double>(linear[v]);
        return 1.0;
    };
    const double dark = percentile(0.10), bright = percentile(0.999);
    if (bright - dark < 0.02) return {};
    cv::Mat1f overview(small.size());
    std::transform(small.begin(), small.end(), overview.begin(), [&](std::uint8_t v) { return linear[v]; });

    cv::Mat1b mask = overview > dark + kLitShare * (bright - dark);
    // Closing along the lines bridges the bars and the ruler's dark columns.
    const int k = std::max(3, static_cast<int>(std::lround(0.02 * overview.cols)));
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, {k, std::max(3, k / 4)}));
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {3, 3}));
    std::vector<std::vector<cv::Point>> contours;
    std::vector<Piece> pieces;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    for (const auto& contour : contours) {
        if (cv::contourArea(contour) < kSmallestPiece * overview.total()) continue;
        std::vector<cv::Point> hull;
        cv::convexHull(contour, hull);
        Piece piece;
        for (const cv::Point& p : hull)
            piece.outline.emplace_back(static_cast<float>((p.x + 0.5) / r), static_cast<float>((p.y + 0.5) / r));
        piece.box = cv::minAreaRect(piece.outline);
        piece.area = cv::contourArea(piece.outline);
        pieces.push_back(piece);
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.area > b.area; });
    return pieces;
}

std::optional<Stripes> FindStripes(const cv::Mat1b& sharp, const Piece& piece, int screenWidth) {
    cv::Point2d along, across;
    BoxAxes(piece.box, along, across);
    const double longSide = piece.LongSide();
    const double shortSide = piece.ShortSide();
    // Large photos are sampled more coarsely: the stripes' period is known to within a
    // fifth from the piece's width, and five samples a period are plenty.
    const double expectedPitch = longSide / screenWidth;
    const double step = std::max({1.0, 2 * expectedPitch / 5, 0.55 * longSide / kLongestPatch});
    const int width = cv::getOptimalDFTSize(static_cast<int>(std::clamp(0.55 * longSide / step, 64.0, kLongestPatch)));
    const int height = cv::getOptimalDFTSize(static_cast<int>(std::clamp(0.8 * shortSide / step, 32.0, 256.0)));
    const cv::Point2d centre(piece.box.center.x, piece.box.center.y);
    cv::Mat1f patch = ResampleLinear(sharp, centre - (along * width + across * height) * (step / 2), along * step,
                                     across * step, {width, height});

    cv::Mat1f window;
    cv::createHanningWindow(window, patch.size(), CV_32F);
    patch -= cv::mean(patch)[0];
    patch = patch.mul(window);
    cv::Mat spectrum;
    cv::dft(patch, spectrum, cv::DFT_COMPLEX_OUTPUT);
    cv::Mat planes[2];
    cv::split(spectrum, planes);
    cv::Mat1f magnitude;
    cv::magnitude(planes[0], planes[1], magnitude);

    // Search the half plane of positive vertical frequency near the stripes' frequency
    // for square screen pixels; the ticks' harmonics lie a fifth of it apart.
    const double expected = step / (2 * expectedPitch);  // cycles per sample
    double best = 0;
    int bestX = 0, bestY = 0;
    const int reachX = std::min(width / 2 - 1, static_cast<int>(1.2 * expected * width) + 1);
    const int reachY = std::min(height / 2 - 1, static_cast<int>(1.2 * expected * height) + 1);
    for (int j = 1; j <= reachY; ++j) {
        for (int i = -reachX; i <= reachX; ++i) {
            const double fx = static_cast<double>(i) / width, fy = static_cast<double>(j) / height;
            const double f = std::hypot(fx, fy);
            if (f / step < 1 / kLongestPeriod || f / step > 1 / kShortestPeriod || f < 0.88 * expected || f > 1.15 * expected ||
                std::atan2(std::abs(fx), fy) > kStripeTilt)
                continue;
            const float m = magnitude(j, (i + width) % width);
            if (m > best) best = m, bestX = i, bestY = j;
        }
    }
    if (best <= 0) return std::nullopt;
    auto at = [&](int i, int j) { return static_cast<double>(magnitude((j + height) % height, (i + width) % width)); };
    const double dx = ParabolicPeak(at(bestX - 1, bestY), best, at(bestX + 1, bestY));
    const double dy = ParabolicPeak(at(bestX, bestY - 1), best, at(bestX, bestY + 1));
    const double fx = (bestX + dx) / width / step, fy = (bestY + dy) / height / step;  // cycles per pixel
    cv::Point2d frequency = along * fx + across * fy;
    const double f = cv::norm(frequency);
    Stripes stripes;
    stripes.normal = frequency / f;
    if (stripes.normal.y < 0) stripes.normal = -stripes.normal;
    stripes.pitch = 1 / (2 * f);
    return stripes;
}

Stripes GuessStripes(const Piece& piece, int screenWidth) {
    cv::Point2d along, across;
    BoxAxes(piece.box, along, across);
    Stripes stripes;
    stripes.normal = across.y < 0 ? -across : across;
    stripes.pitch = piece.LongSide() / screenWidth;
    return stripes;
}

std::optional<RoughGrid> FindRuler(const cv::Mat1b& sharp, const Piece& piece, const Stripes& stripes,
                                   const ScreenLayout& layout, const cv::Mat1f& rulerLinear) {
    const cv::Point2d normal = stripes.normal, direction(normal.y, -normal.x);
    const double longSide = piece.LongSide();
    const double shortSide = piece.ShortSide();
    const double halfLength = 0.6 * longSide;
    const double halfHeight = std::clamp(std::min(0.35 * shortSide, 24 * stripes.pitch), 2.0, 400.0);
    const cv::Point2d centre(piece.box.center.x, piece.box.center.y);
    const cv::Point2d origin = centre - direction * halfLength - normal * halfHeight;
    // Rows half a line apart are enough for a column's mean.
    const double rowStep = std::max(1.0, stripes.pitch / 2);
    const cv::Mat1f strip = ResampleLinear(sharp, origin, direction, normal * rowStep,
                                           {static_cast<int>(2 * halfLength), static_cast<int>(2 * halfHeight / rowStep)});
    cv::Mat1f profile;
    cv::reduce(strip, profile, 0, cv::REDUCE_AVG);
    cv::Mat1f columns;
    cv::reduce(rulerLinear, columns, 0, cv::REDUCE_AVG);

    // The ruler's column profile at scales around the line pitch, at four sub-column
    // phases; the ruler's middle stays near the piece's middle.
    double bestScore = -2, bestLeft = 0, bestScale = 0;
    for (double scale = 0.8 * stripes.pitch; scale <= 1.25 * stripes.pitch; scale *= 1.01) {
        const int count = static_cast<int>(profile.cols / scale) - 1;
        if (count <= kRulerWidth) continue;
        for (int phase = 0; phase < 4; ++phase) {
            const double start = phase * scale / 4;
            cv::Mat1f sampled(1, count);
            for (int k = 0; k < count; ++k) {
                const double t = start + (k + 0.5) * scale;
                const int i = std::clamp(static_cast<int>(t), 0, profile.cols - 2);
                const double f = std::clamp(t - i, 0.0, 1.0);
                sampled(0, k) = static_cast<float>(profile(0, i) * (1 - f) + profile(0, i + 1) * f);
            }
            cv::Mat1f scores;
            cv::matchTemplate(sampled, columns, scores, cv::TM_CCOEFF_NORMED);
            for (int k = 0; k < scores.cols; ++k) {
                const double left = start + k * scale;
                const double middle = left + kRulerWidth / 2.0 * scale - halfLength;
                if (std::abs(middle) > 0.2 * longSide || scores(0, k) <= bestScore) continue;
                bestScore = scores(0, k), bestLeft = left, bestScale = scale;
            }
        }
    }
    if (bestScore <= 0) return std::nullopt;
    // Ruler column 0 begins at strip position bestLeft: screen column rulerLeft there.
    const cv::Point2d columnStep = direction * bestScale, lineStep = normal * stripes.pitch;
    const cv::Point2d zero = origin + normal * halfHeight + direction * (bestLeft - layout.rulerLeft * bestScale);
    RoughGrid grid;
    grid.screenToPhoto = cv::Matx33d(columnStep.x, lineStep.x, zero.x, columnStep.y, lineStep.y, zero.y, 0, 0, 1);
    grid.match = bestScore;
    return grid;
}

}  // namespace velmaro::photo
