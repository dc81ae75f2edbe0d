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

cv::Mat1f BarSharesByLine(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, double black,
                          int height) {
    std::vector<double> all = columns.barWhite;
    std::vector<int> starts;
    for (const auto& bar : columns.bars) {
        starts.push_back(static_cast<int>(all.size()));
        all.insert(all.end(), bar.begin(), bar.end());
    }
    const cv::Mat1f samples = SampleView(sharp, view, all, Positions(0.5, height, 1));
    cv::Mat1f shares(height, kBars, NAN);
    for (int n = 0; n < height; ++n) {
        const cv::Mat1f row = samples.row(n);
        const double white = Mean(row, 0, static_cast<int>(columns.barWhite.size()));
        if (!(white - black > 0)) continue;
        for (int j = 0; j < kBars; ++j) {
            const double bar = Mean(row, starts[j], static_cast<int>(columns.bars[j].size()));
            shares(n, j) = static_cast<float>((bar - black) / (white - black));
        }
    }
    return shares;
}

cv::Mat1f BarSharesAlong(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, const ScreenLayout& layout,
                         double black, int side, double column, double slope) {
    const int height = layout.height;
    auto onSide = [&](double x) { return side < 0 ? x < layout.rulerLeft : x > layout.rulerLeft + kRulerWidth; };
    // A column's light on every line, read along the slant; NaN off the screen.
    auto along = [&](double x) {
        const double shift = slope * (x - column);
        const cv::Mat1f values = SampleView(sharp, view, {x}, Positions(0.5 + shift, height, 1));
        std::vector<double> light(height, NAN);
        for (int n = 0; n < height; ++n)
            if (n + 0.5 + shift > 0 && n + 0.5 + shift < height) light[n] = values(n, 0);
        return light;
    };
    auto meanOf = [&](const std::vector<double>& xs) {
        std::vector<double> sum(height, 0.0);
        std::vector<int> used(height, 0);
        for (double x : xs) {
            if (!onSide(x)) continue;
            const std::vector<double> light = along(x);
            for (int n = 0; n < height; ++n)
                if (!std::isnan(light[n])) sum[n] += light[n], ++used[n];
        }
        for (int n = 0; n < height; ++n) sum[n] = used[n] ? sum[n] / used[n] : NAN;
        return sum;
    };
    const std::vector<double> white = meanOf(columns.barWhite);
    cv::Mat1f shares(height, kBars, NAN);
    for (int j = 0; j < kBars; ++j) {
        const std::vector<double> bar = meanOf(columns.bars[j]);
        for (int n = 0; n < height; ++n)
            if (white[n] - black > 0 && !std::isnan(bar[n])) shares(n, j) = static_cast<float>((bar[n] - black) / (white[n] - black));
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
