#include "photo/read/bars.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr double kWholePass = 0.3;  // a count may miss a whole number of passes by this much

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
std::optional<BarShares> SideShares(const SideRanges& side, const cv::Mat1f& row) {
    auto mean = [&](const Range& r) { return Mean(row, r.from, r.count); };
    const double black = mean(side.black), inner = mean(side.inner), outer = mean(side.outer);
    if (side.outer.column == side.inner.column) return std::nullopt;
    BarShares of{};
    for (int j = 0; j < kBars; ++j) {
        const double along = (side.bars[j].column - side.inner.column) / (side.outer.column - side.inner.column);
        const double white = inner + along * (outer - inner) - black;
        of[j] = (mean(side.bars[j]) - black) / white;
        if (!(white > 0) || std::isnan(of[j])) return std::nullopt;
    }
    return of;
}

}  // namespace

cv::Mat1f BarSharesByLine(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height) {
    std::vector<double> all;
    const std::array<SideRanges, 2> ranges = Gather(columns, all);
    const cv::Mat1f samples = SampleView(sharp, view, all, Positions(0.5, height, 1));
    cv::Mat1f shares(height, kBars, NAN);
    for (int n = 0; n < height; ++n) {
        std::array<double, kBars> sum{};
        int sides = 0;
        for (const SideRanges& side : ranges) {
            const auto of = SideShares(side, samples.row(n));
            if (!of) continue;
            for (int j = 0; j < kBars; ++j) sum[j] += (*of)[j];
            ++sides;
        }
        if (sides == 0) continue;
        for (int j = 0; j < kBars; ++j) shares(n, j) = static_cast<float>(sum[j] / sides);
    }
    return shares;
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
