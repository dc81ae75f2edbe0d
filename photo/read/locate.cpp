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
constexpr double kAngleBins = 1440;       // of four times the gradient's angle: a quarter of a degree each
constexpr int kAxisPeaks = 3;             // directions of light's change tried as the pattern's axes
constexpr int kPeakApart = 40;
constexpr double kClearlyBetter = 0.05;    // of the ruler's correlation
constexpr double kRulerClear = 0.8;        // ... at which a piece clearly shows the ruler             // bins: ten degrees of the pattern's angle
constexpr double kInteriorSize = 600;      // pixels along the longer side of a piece's overview
constexpr double kInteriorMargin = 16;     // overview pixels kept clear of a piece's boundary at most
constexpr double kInteriorShare = 0.4;     // ... and at most this share of the piece's half thickness
constexpr double kSmallestScale = 1.0;     // photo pixels per column that the ruler is looked for at
constexpr double kLargestStretch = 1.15;   // a screen's extent in the photo over its columns' at most
constexpr double kCoarseStep = 1.03;       // between the scales of the first search
constexpr double kFineStep = 1.006;        // ... and of the second, around the first's best
constexpr int kFineCandidates = 2;
constexpr double kStripRows = 40;          // rows on each side of a strip's middle: enough for a column's mean
constexpr double kIllumination = 40;       // photo pixels: the blur that takes a strip's light without its pattern
constexpr int kHighPass = 15;              // columns: the ruler's profile compared less its local mean
// How far from a piece's middle the ruler's may lie, as a share of the piece's length: a
// photo cropped to part of the screen, or a slanted band, puts it well off the middle.
constexpr double kRulerOffCentre = 0.4;
constexpr double kLeastShear = 0.05;   // lines per column: less is followed as if level
// ... more is too steep for a strip along the lines to follow: a phone's readout of 35 ms,
// on its side before a screen of 85 Hz that fills the frame, drops the band some 3.5 lines a
// column, and crosses the ruler nearly along its length.
constexpr double kSteepestShear = 5;

// A profile less its moving mean over `reach` samples on each side: what correlates is the
// ruler's fine structure, not how the light falls across it.
cv::Mat1f HighPassed(const cv::Mat1f& profile, int reach) {
    cv::Mat1f mean;
    cv::blur(profile, mean, {2 * reach + 1, 1}, {-1, -1}, cv::BORDER_REPLICATE);
    return profile - mean;
}

// The light of a strip across a piece, column by column, over the places that are lit: a
// band that crosses the strip on a slant leaves the pattern's profile, not its own edges.
cv::Mat1f LitProfile(const cv::Mat1f& strip) {
    cv::Mat1f light;
    cv::blur(strip, light, {static_cast<int>(2 * kIllumination) + 1, static_cast<int>(kIllumination / 2) + 1});
    double brightest;
    cv::minMaxLoc(light, nullptr, &brightest);
    cv::Mat1f lit;
    cv::threshold(light, lit, 0.3 * brightest, 1, cv::THRESH_BINARY);
    cv::Mat1f sums, counts;
    cv::reduce(strip.mul(lit), sums, 0, cv::REDUCE_SUM);
    cv::reduce(lit, counts, 0, cv::REDUCE_SUM);
    cv::Mat1f profile(1, strip.cols, 0.0f);
    for (int c = 0; c < strip.cols; ++c)
        if (counts(0, c) > 0) profile(0, c) = sums(0, c) / counts(0, c);
    return profile;
}

struct RulerMatch {
    double score = -2, left = 0, scale = 0;
};

// The ruler's column profile against a strip's at one scale and sub-column phase; its
// middle within reach of the strip's.
void MatchAt(const cv::Mat1f& profile, const cv::Mat1f& ruler, double scale, double start, double reach,
             RulerMatch& best) {
    // Only the stretch where the ruler may lie, whole columns from `start` on.
    const double half = profile.cols / 2.0;
    const double first = std::max(start, start + scale * std::floor((half - reach - (kRulerWidth / 2.0 + kHighPass) * scale - start) / scale));
    const int count = static_cast<int>((std::min<double>(profile.cols, half + reach + (kRulerWidth / 2.0 + kHighPass) * scale) - first) / scale) - 1;
    if (count <= kRulerWidth) return;
    cv::Mat1f sampled(1, count);
    for (int k = 0; k < count; ++k) {
        const double t = first + (k + 0.5) * scale;
        const int i = std::clamp(static_cast<int>(t), 0, profile.cols - 2);
        const double f = std::clamp(t - i, 0.0, 1.0);
        sampled(0, k) = static_cast<float>(profile(0, i) * (1 - f) + profile(0, i + 1) * f);
    }
    cv::Mat1f scores;
    cv::matchTemplate(HighPassed(sampled, kHighPass), ruler, scores, cv::TM_CCOEFF_NORMED);
    for (int k = 0; k < scores.cols; ++k) {
        const double left = first + k * scale;
        if (std::abs(left + kRulerWidth / 2.0 * scale - half) > reach || scores(0, k) <= best.score) continue;
        best = {scores(0, k), left, scale};
    }
}

// The slope of a long, slanted piece (a band that a slit drew across the lines), in
// lines down per column along; 0 for a piece that runs along the lines, or one too short
// or too steep to have a slope worth following.
double Shear(const Piece& piece, cv::Point2d direction, cv::Point2d normal) {
    if (!piece.Elongated()) return 0;
    const auto [from, to] = piece.LongAxisEnds();
    const double a = (to - from).dot(direction), b = (to - from).dot(normal);
    if (std::abs(a) < 1e-9 || std::abs(b / a) > kSteepestShear || std::abs(b / a) < kLeastShear) return 0;
    return b / a;
}

// The ruler's best match in a strip along one direction of the photo, taken as the lines',
// sheared by `shear` across it.
std::optional<RoughGrid> MatchAlong(const cv::Mat1b& sharp, const Piece& piece, cv::Point2d direction, double shear,
                                    const cv::Mat1f& ruler, double smallest, const ScreenLayout& layout) {
    const cv::Point2d centre(piece.box.center.x, piece.box.center.y);
    const cv::Point2d normal(-direction.y, direction.x);
    const cv::Point2d along = direction + normal * shear;
    // How far the strip reaches across the lines: along the piece, not beyond it.
    double across = 0, length = 0;
    for (const cv::Point2f& p : piece.outline) {
        const cv::Point2d d = cv::Point2d(p) - centre;
        length = std::max(length, std::abs(d.dot(direction)));
        across = std::max(across, std::abs(d.dot(normal) - shear * d.dot(direction)));
    }
    const double halfLength = shear == 0 ? 0.6 * piece.LongSide() : length + kRulerWidth;
    const double halfHeight = std::clamp(0.7 * across, 2.0, 400.0);
    const double rowStep = std::max(1.0, halfHeight / kStripRows);
    const cv::Point2d origin = centre - along * halfLength - normal * halfHeight;
    const cv::Mat1f strip = ResampleLinear(sharp, origin, along, normal * rowStep,
                                           {static_cast<int>(2 * halfLength), static_cast<int>(2 * halfHeight / rowStep)});
    const cv::Mat1f profile = LitProfile(strip);
    const double reach = shear == 0 ? kRulerOffCentre * piece.LongSide() : length;
    // Every scale coarsely, then the best few finely, at four sub-column phases.
    std::vector<RulerMatch> coarse;
    for (double scale = smallest; scale * kRulerWidth < 2 * halfLength; scale *= kCoarseStep) {
        RulerMatch m;
        MatchAt(profile, ruler, scale, 0, reach, m);
        coarse.push_back(m);
    }
    std::sort(coarse.begin(), coarse.end(), [](const RulerMatch& a, const RulerMatch& b) { return a.score > b.score; });
    RulerMatch found;
    for (std::size_t i = 0; i < coarse.size() && static_cast<int>(i) < kFineCandidates && coarse[i].scale > 0; ++i)
        for (double scale = coarse[i].scale / kCoarseStep; scale <= coarse[i].scale * kCoarseStep; scale *= kFineStep)
            for (int phase = 0; phase < 4; ++phase) MatchAt(profile, ruler, scale, phase * scale / 4, reach, found);
    if (found.score <= 0) return std::nullopt;
    // Ruler column 0 begins at strip position found.left: screen column rulerLeft there; a
    // line is guessed as high as a column is wide.
    const cv::Point2d columnStep = direction * found.scale, lineStep = normal * found.scale;
    const cv::Point2d zero = origin + normal * halfHeight + along * found.left - direction * (layout.rulerLeft * found.scale);
    return RoughGrid{cv::Matx33d(columnStep.x, lineStep.x, zero.x, columnStep.y, lineStep.y, zero.y, 0, 0, 1), found.score,
                     found.scale};
}

}  // namespace

std::pair<cv::Point2d, cv::Point2d> Piece::LongAxisEnds() const {
    const double angle = box.angle * CV_PI / 180;
    cv::Point2d axis(std::cos(angle), std::sin(angle));
    if (box.size.height > box.size.width) axis = {-axis.y, axis.x};
    const cv::Point2d centre(box.center.x, box.center.y);
    return {centre - axis * (LongSide() / 2), centre + axis * (LongSide() / 2)};
}

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

std::vector<cv::Point2d> PatternAxes(const cv::Mat1b& sharp, const Piece& piece) {
    cv::Rect box = cv::boundingRect(piece.outline) & cv::Rect(0, 0, sharp.cols, sharp.rows);
    // Shrunk by a whole factor, whose area mean is quick, from a box of whole multiples of it.
    const int factor = std::max(1, static_cast<int>(std::max(box.width, box.height) / kInteriorSize));
    box.width = std::max(factor, box.width / factor * factor), box.height = std::max(factor, box.height / factor * factor);
    const double r = 1.0 / factor;
    cv::Mat1b small;
    cv::resize(sharp(box), small, cv::Size(box.width / factor, box.height / factor), 0, 0, cv::INTER_AREA);
    // The piece's interior: its lit part, closed over the pattern's dark marks, kept clear
    // of the boundary, whose edges (a slanted band's) run any way.
    std::vector<cv::Point> outline;
    for (const cv::Point2f& p : piece.outline)
        outline.emplace_back(static_cast<int>((p.x - box.x) * r), static_cast<int>((p.y - box.y) * r));
    cv::Mat1b inside(small.size(), std::uint8_t{0});
    cv::fillConvexPoly(inside, outline, 255);
    double bright;
    cv::minMaxLoc(small, nullptr, &bright, nullptr, nullptr, inside);
    cv::Mat1b lit = small > 0.35 * bright;
    const int k = std::max(3, small.cols / 40);
    cv::morphologyEx(lit, lit, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, {k, k}));
    // Kept clear of the boundary by as much as the piece's thickness allows: a band's edge
    // fades over many lines where the phosphor glows on.
    cv::Mat1f distance;
    cv::distanceTransform(lit & inside, distance, cv::DIST_L2, 3);
    double deepest;
    cv::minMaxLoc(distance, nullptr, &deepest);
    lit = distance > std::min(kInteriorMargin, kInteriorShare * deepest);
    cv::Mat1f gx, gy;
    cv::Sobel(small, gx, CV_32F, 1, 0);
    cv::Sobel(small, gy, CV_32F, 0, 1);
    // Everything on the screen is drawn along lines and columns: four times the gradients'
    // angle gathers both axes in one peak.
    cv::Mat1f angle, strength;
    cv::phase(gx, gy, angle);  // radians, 0 to 2 pi
    cv::multiply(gx, gx, gx);
    cv::multiply(gy, gy, gy);
    cv::add(gx, gy, strength);
    std::vector<double> bins(static_cast<std::size_t>(kAngleBins), 0.0);
    const double perBin = kAngleBins / (2 * CV_PI);
    for (int y = 0; y < small.rows; ++y) {
        const std::uint8_t* l = lit.ptr<std::uint8_t>(y);
        const float* a = angle.ptr<float>(y);
        const float* w = strength.ptr<float>(y);
        for (int x = 0; x < small.cols; ++x)
            if (l[x] && w[x] > 0) bins[static_cast<std::size_t>(4 * a[x] * perBin) % bins.size()] += w[x];
    }
    // The highest peaks, smoothed over a degree, each refined by the mean angle around it.
    // A band's own long edges may make a peak of their own, even the highest where the
    // band shows little of the ruler: the ruler's match decides among them.
    const int n = static_cast<int>(bins.size());
    std::vector<double> smoothed(n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int d = -8; d <= 8; ++d) smoothed[i] += bins[(i + n + d) % n];
    std::vector<cv::Point2d> axes;
    for (int k = 0; k < kAxisPeaks; ++k) {
        const int peak = static_cast<int>(std::max_element(smoothed.begin(), smoothed.end()) - smoothed.begin());
        if (!(smoothed[peak] > 0)) break;
        double c = 0, s = 0;
        for (int d = -16; d <= 16; ++d) {
            const double a = 2 * CV_PI * (peak + d + 0.5) / kAngleBins;
            c += bins[(peak + n + d) % n] * std::cos(a);
            s += bins[(peak + n + d) % n] * std::sin(a);
        }
        const double angle = std::atan2(s, c) / 4;
        axes.emplace_back(std::cos(angle), std::sin(angle));
        axes.emplace_back(-std::sin(angle), std::cos(angle));
        for (int d = -kPeakApart; d <= kPeakApart; ++d) smoothed[(peak + n + d) % n] = 0;
    }
    return axes;
}

std::vector<RoughGrid> FindRulers(const cv::Mat1b& sharp, const Piece& piece, const ScreenLayout& layout,
                                  const cv::Mat1f& rulerLinear) {
    cv::Mat1f columns;
    cv::reduce(rulerLinear, columns, 0, cv::REDUCE_AVG);
    const cv::Mat1f ruler = HighPassed(columns, kHighPass);
    // Along the lines: either axis of the pattern.
    const std::vector<cv::Point2d> axes = PatternAxes(sharp, piece);
    // No piece reaches further than the screen's diagonal (with room for keystone and the
    // columns' aspect): the ruler is no smaller than that allows.
    const double diagonal = std::hypot(layout.width, layout.height) * kLargestStretch;
    const double smallest = std::max(kSmallestScale, piece.LongSide() / diagonal);
    // Each axis's best match, ranked: a less likely axis is tried where the likeliest do
    // not show the ruler clearly, and ranks after them unless it matches clearly better
    // (a thin band matches it about as well a few degrees off).
    std::vector<std::pair<double, RoughGrid>> ranked;
    double best = 0;
    for (std::size_t i = 0; i < axes.size(); ++i) {
        if (i >= 2 && best >= kRulerClear) break;
        // A slanted band crosses the ruler far from its middle's rows: a strip that follows
        // the band, sheared down the lines by its slope, holds the band's light in every
        // column it spans; where the ruler lies near the middle, a level strip may show
        // more of it.
        const cv::Point2d normal(-axes[i].y, axes[i].x);
        const double shear = Shear(piece, axes[i], normal);
        for (double s : shear == 0 ? std::vector<double>{0} : std::vector<double>{shear, 0}) {
            const auto found = MatchAlong(sharp, piece, axes[i], s, ruler, smallest, layout);
            if (!found) continue;
            best = std::max(best, found->match);
            ranked.push_back({found->match - (i < 2 ? 0 : kClearlyBetter), *found});
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<RoughGrid> rulers;
    for (const auto& [rank, grid] : ranked) rulers.push_back(grid);
    return rulers;
}

std::optional<RoughGrid> FindRuler(const cv::Mat1b& sharp, const Piece& piece, const ScreenLayout& layout,
                                   const cv::Mat1f& rulerLinear) {
    const std::vector<RoughGrid> rulers = FindRulers(sharp, piece, layout, rulerLinear);
    if (rulers.empty()) return std::nullopt;
    return rulers.front();
}

}  // namespace velmaro::photo
