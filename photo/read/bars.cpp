#include "photo/read/bars.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "photo/read/band.h"
#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr double kWholePass = 0.3;  // a count may miss a whole number of passes by this much
constexpr double kStripesMeanError = 0.015;  // of the stripes' mean, what a JPEG may leave it off by
constexpr double kRippleLoss = 0.15;         // of the square of the ripple's depth, what it may lower their mean by

double Mean(const cv::Mat1f& row, int from, int count) {
    double sum = 0;
    int used = 0;
    for (int i = from; i < from + count; ++i)
        if (!std::isnan(row(0, i))) sum += row(0, i), ++used;
    return used ? sum / used : NAN;
}

// Where one side's columns lie in a row of samples: its bars, its black strip, and the
// white inside and outside the bars.
struct Range {
    int from = 0, count = 0;
    double column = 0;  // the middle
};
struct SideRanges {
    std::array<Range, kBars> bars;
    Range black, inner, outer;
};

// Both sides' columns, in one row of samples.
std::array<SideRanges, 2> Gather(const Columns& columns, std::vector<double>& all) {
    std::array<SideRanges, 2> ranges{};
    auto add = [&](const std::vector<double>& of) {
        Range range{static_cast<int>(all.size()), static_cast<int>(of.size()), 0};
        for (double x : of) range.column += x / of.size();
        all.insert(all.end(), of.begin(), of.end());
        return range;
    };
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const BarSide& side = columns.barSides[i];
        for (int j = 0; j < kBars; ++j) ranges[i].bars[j] = add(side.bars[j]);
        ranges[i].black = add(side.black);
        ranges[i].inner = add(side.inner);
        ranges[i].outer = add(side.outer);
    }
    return ranges;
}

// One side's shares on a line: a bar's light above the strip's over the white there (the
// white that blur spills into a bar's middle spills as much into the strip's, and so
// cancels); nullopt where any of it is unseen.
// Where the white is taken from the stripes, `stripes` is their mean on the line: half way
// between white and black.
std::optional<BarShares> SideShares(const SideRanges& side, const cv::Mat1f& row, std::optional<double> stripes = std::nullopt) {
    auto mean = [&](const Range& r) { return Mean(row, r.from, r.count); };
    const double black = mean(side.black), inner = mean(side.inner), outer = mean(side.outer);
    if (side.outer.column == side.inner.column) return std::nullopt;
    BarShares of{};
    for (int j = 0; j < kBars; ++j) {
        const double along = (side.bars[j].column - side.inner.column) / (side.outer.column - side.inner.column);
        const double white = stripes ? 2 * (*stripes - black) : inner + along * (outer - inner) - black;
        of[j] = (mean(side.bars[j]) - black) / white;
        if (!(white > 0) || std::isnan(of[j])) return std::nullopt;
    }
    return of;
}

}  // namespace

std::vector<float> StripesMean(const std::vector<float>& samples, int perLine) {
    // A trapezoid two lines wide: every sample of a stripe's period once, the two ends, one
    // period apart, half each; so any blur of the stripes leaves no ripple.
    const int reach = perLine;
    const int n = static_cast<int>(samples.size());
    std::vector<float> mean(samples.size(), NAN);
    for (int i = 0; i < n; ++i) {
        double sum = 0, weights = 0;
        for (int k = std::max(0, i - reach); k <= std::min(n - 1, i + reach); ++k) {
            const double w = std::abs(k - i) == reach ? 0.5 : 1;
            if (!std::isnan(samples[k])) sum += w * samples[k], weights += w;
        }
        if (weights > 0) mean[i] = static_cast<float>(sum / weights);
    }
    return mean;
}

namespace {

// One side's stripes on every line (row n - 1: line n's middle): their mean, NaN where they
// are off the screen or any of their samples about it is clipped (their mean is then held
// down); and how far a line's middle lies from that mean (the stripes' ripple that blur
// leaves), of the lines whose mean is known.
struct SideStripes {
    std::vector<float> mean;
    double ripple = 0;
};

SideStripes StripesOfSide(const cv::Mat1b& sharp, const ScreenView& view, const std::vector<double>& stripes, int height) {
    constexpr int kPerLine = 4;
    SideStripes of;
    of.mean.assign(height, NAN);
    if (stripes.empty()) return of;
    // Samples at whole and quarter lines, so that one lies on each line's middle.
    const cv::Mat1f samples = SampleView(sharp, view, stripes, Positions(0, kPerLine * height + 1, 1.0 / kPerLine));
    std::vector<float> across(samples.rows, NAN);
    std::vector<int> clipped(samples.rows, 0);
    for (int r = 0; r < samples.rows; ++r) {
        double sum = 0;
        int count = 0;
        for (int c = 0; c < samples.cols; ++c)
            if (const float v = samples(r, c); !std::isnan(v)) sum += v, ++count, clipped[r] += v >= kClippedWhite;
        if (count == static_cast<int>(stripes.size())) across[r] = static_cast<float>(sum / count);
    }
    const std::vector<float> mean = StripesMean(across, kPerLine);
    double ripple = 0;
    int lines = 0;
    for (int n = 0; n < height; ++n) {
        const int middle = kPerLine * n + kPerLine / 2;
        bool clear = middle - kPerLine >= 0 && middle + kPerLine < samples.rows;
        for (int r = std::max(0, middle - kPerLine); clear && r <= middle + kPerLine; ++r)
            clear = clipped[r] == 0 && !std::isnan(across[r]);
        if (!clear) continue;
        of.mean[n] = mean[middle];
        ripple += std::abs(across[middle] - mean[middle]), ++lines;
    }
    if (lines > 0) of.ripple = ripple / lines;
    return of;
}

// Shares of every line from each side's own white: measured beside the bars, or twice the
// stripes' mean over black where `stripes` is given.
cv::Mat1f SharesOfLines(const cv::Mat1f& samples, const std::array<SideRanges, 2>& ranges,
                        const std::array<SideStripes, 2>* stripes) {
    cv::Mat1f shares(samples.rows, kBars, NAN);
    for (int n = 0; n < samples.rows; ++n) {
        std::array<double, kBars> sum{};
        int sides = 0;
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            if (stripes && std::isnan((*stripes)[i].mean[n])) continue;
            const auto of = stripes ? SideShares(ranges[i], samples.row(n), (*stripes)[i].mean[n]) : SideShares(ranges[i], samples.row(n));
            if (!of) continue;
            for (int j = 0; j < kBars; ++j) sum[j] += (*of)[j];
            ++sides;
        }
        if (sides == 0) continue;
        for (int j = 0; j < kBars; ++j) shares(n, j) = static_cast<float>(sum[j] / sides);
    }
    return shares;
}

// The factors between which the true shares lie, times those from a side's stripes. The
// bars are measured from the black strip, which blur lifts above the screen's black by
// the light it spills from the white beside it; the white, less the strip, is then twice
// the stripes' mean less the strip, plus what the strip holds above the black: nothing
// where the black is all spill, at most the strip's whole level where the black is all
// the screen's own (light is never below none). JPEG keeps the stripes' mean to a per cent
// or so, and less where a strong ripple is left: its curve between the encoded values and
// the light lowers a ripple's mean by about the square of its depth.
std::pair<double, double> ScaleOfSide(const SideStripes& stripes, const cv::Mat1f& samples, const SideRanges& side) {
    double level = 0, black = 0;
    int lines = 0;
    for (int n = 0; n < samples.rows; ++n) {
        const double strip = Mean(samples.row(n), side.black.from, side.black.count);
        if (std::isnan(stripes.mean[n]) || std::isnan(strip)) continue;
        level += stripes.mean[n], black += strip, ++lines;
    }
    if (lines == 0 || !(level > black)) return {1, 1};
    level /= lines, black /= lines;
    const double half = level - black, depth = stripes.ripple / half;
    const double most = 1 + black / (2 * half) + kStripesMeanError + kRippleLoss * depth * depth;
    return {1 / most, 1 / (1 - kStripesMeanError)};
}

// The bars' and their references' columns on every line's middle, and where each side's lie.
struct BarSamples {
    cv::Mat1f samples;
    std::array<SideRanges, 2> ranges;
};

BarSamples SampleBars(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height) {
    std::vector<double> all;
    BarSamples of;
    of.ranges = Gather(columns, all);
    of.samples = SampleView(sharp, view, all, Positions(0.5, height, 1));
    return of;
}

}  // namespace

cv::Mat1f BarSharesByLine(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height) {
    const BarSamples bars = SampleBars(sharp, view, columns, height);
    return SharesOfLines(bars.samples, bars.ranges, nullptr);
}

StripesShares BarSharesFromStripes(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height) {
    const auto [samples, ranges] = SampleBars(sharp, view, columns, height);
    std::array<SideStripes, 2> stripes;
    for (int i = 0; i < 2; ++i) stripes[i] = StripesOfSide(sharp, view, columns.barSides[i].stripes, height);
    StripesShares r{SharesOfLines(samples, ranges, &stripes), INFINITY, 0};
    for (int i = 0; i < 2; ++i) {
        const auto [least, most] = ScaleOfSide(stripes[i], samples, ranges[i]);
        r.least = std::min(r.least, least), r.most = std::max(r.most, most);
    }
    return r;
}

cv::Mat1f BarSharesAlong(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height, int side,
                         double column, double slope) {
    std::vector<double> all;
    const SideRanges ranges = Gather(columns, all)[side < 0 ? 0 : 1];
    // Each column's light on every line, read along the slant; NaN off the screen.
    cv::Mat1f samples(height, static_cast<int>(all.size()), NAN);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const double shift = slope * (all[i] - column);
        const cv::Mat1f values = SampleView(sharp, view, {all[i]}, Positions(0.5 + shift, height, 1));
        for (int n = 0; n < height; ++n)
            if (n + 0.5 + shift > 0 && n + 0.5 + shift < height) samples(n, static_cast<int>(i)) = values(n, 0);
    }
    cv::Mat1f shares(height, kBars, NAN);
    for (int n = 0; n < height; ++n)
        if (const auto of = SideShares(ranges, samples.row(n)))
            for (int j = 0; j < kBars; ++j) shares(n, j) = static_cast<float>((*of)[j]);
    return shares;
}

std::optional<BarShares> MeanShares(const cv::Mat1f& byLine, double from, double to) {
    BarShares mean{};
    const int first = std::max(0, static_cast<int>(std::ceil(from - 0.5))), last = std::min(byLine.rows - 1, static_cast<int>(std::floor(to - 0.5)));
    for (int j = 0; j < kBars; ++j) {
        double sum = 0;
        int count = 0;
        for (int n = first; n <= last; ++n)
            if (!std::isnan(byLine(n, j))) sum += byLine(n, j), ++count;
        if (count == 0) return std::nullopt;
        mean[j] = sum / count;
    }
    return mean;
}

PhaseShares SharesOfPhases(const BarShares& bars) {
    PhaseShares shares{};
    double below = 0;
    for (int p = 0; p < kPhases; ++p) {
        const double upTo = p < kBars ? std::clamp(bars[p], 0.0, 1.0) : 1.0;
        shares[p] = std::max(0.0, upTo - below);
        below = std::max(below, upTo);
    }
    return shares;
}

double WholePassMisfit(const BarShares& bars, int passes) {
    if (passes <= 0) return INFINITY;
    // Whole counts that add up to the passes, each as near its phase's share as may be:
    // rounded down, then the largest remainders rounded up.
    const PhaseShares shares = SharesOfPhases(bars);
    std::array<double, kPhases> exact{};
    std::array<int, kPhases> counts{};
    int total = 0;
    for (int p = 0; p < kPhases; ++p) {
        exact[p] = shares[p] * passes;
        counts[p] = static_cast<int>(std::floor(exact[p]));
        total += counts[p];
    }
    std::array<int, kPhases> order{0, 1, 2, 3, 4};
    std::sort(order.begin(), order.end(), [&](int a, int b) { return exact[a] - counts[a] > exact[b] - counts[b]; });
    for (int i = 0; total < passes; i = (i + 1) % kPhases) ++counts[order[i]], ++total;
    double worst = 0;
    for (int p = 0; p < kPhases; ++p) worst = std::max(worst, std::abs(exact[p] - counts[p]));
    return worst;
}

std::optional<PhaseCounts> CountPhases(const BarShares& bars, int passes) {
    if (passes <= 0) return std::nullopt;
    const PhaseShares shares = SharesOfPhases(bars);
    PhaseCounts counts{};
    for (int p = 0; p < kPhases; ++p) {
        const double passesOfPhase = shares[p] * passes;
        counts[p] = static_cast<int>(std::lround(passesOfPhase));
        if (std::abs(passesOfPhase - counts[p]) > kWholePass) return std::nullopt;
    }
    if (std::accumulate(counts.begin(), counts.end(), 0) != passes) return std::nullopt;
    return counts;
}

}  // namespace velmaro::photo
