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

}  // namespace

cv::Mat1f BarSharesByLine(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, int height) {
    // Each side's columns in one row of samples: its bars, its black strip, and the white
    // inside and outside the bars.
    std::vector<double> all;
    struct Range {
        int from = 0, count = 0;
        double column = 0;  // the middle
    };
    struct SideRanges {
        std::array<Range, kBars> bars;
        Range black, inner, outer;
    };
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
    const cv::Mat1f samples = SampleView(sharp, view, all, Positions(0.5, height, 1));
    cv::Mat1f shares(height, kBars, NAN);
    for (int n = 0; n < height; ++n) {
        const cv::Mat1f row = samples.row(n);
        auto mean = [&](const Range& r) { return Mean(row, r.from, r.count); };
        // A bar's light above the strip's over the white there: the white that blur
        // spills into a bar's middle spills as much into the strip's, and so cancels.
        std::array<double, kBars> sum{};
        int sides = 0;
        for (const SideRanges& side : ranges) {
            const double black = mean(side.black), inner = mean(side.inner), outer = mean(side.outer);
            if (side.outer.column == side.inner.column) continue;
            std::array<double, kBars> of{};
            bool known = true;
            for (int j = 0; j < kBars && known; ++j) {
                const double along = (side.bars[j].column - side.inner.column) / (side.outer.column - side.inner.column);
                const double white = inner + along * (outer - inner) - black;
                of[j] = (mean(side.bars[j]) - black) / white;
                known = white > 0 && !std::isnan(of[j]);
            }
            if (!known) continue;
            for (int j = 0; j < kBars; ++j) sum[j] += of[j];
            ++sides;
        }
        if (sides == 0) continue;
        for (int j = 0; j < kBars; ++j) shares(n, j) = static_cast<float>(sum[j] / sides);
    }
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
