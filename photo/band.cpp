#include "photo/band.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace velmaro::photo {

namespace {

constexpr double kFlat = 0.08;        // brightness step, as a share, below which no band stands out
constexpr int kShortestRun = 2;       // samples: shorter runs are noise

struct Run {
    int first, last;  // samples, inclusive
};

// Where a group's band lies: one run, or two that wrap from the bottom to the top.
struct GroupBand {
    bool wraps, atTop, atBottom;
    double start, end;  // line coordinates of the edges (the screen's edge where the band touches it)
    double x;
};

double Percentile(std::vector<float> values, double share) {
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(share * (values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

std::vector<Run> Runs(const std::vector<float>& v, double mid) {
    std::vector<Run> runs;
    int start = -1;
    for (int j = 0; j <= static_cast<int>(v.size()); ++j) {
        const bool above = j < static_cast<int>(v.size()) && v[j] > mid;
        if (above && start < 0) start = j;
        if (!above && start >= 0) {
            runs.push_back({start, j - 1});
            start = -1;
        }
    }
    // Short dips inside the band and short blips outside it are noise.
    std::vector<Run> merged;
    for (const Run& r : runs) {
        if (!merged.empty() && r.first - merged.back().last - 1 < kShortestRun) merged.back().last = r.last;
        else merged.push_back(r);
    }
    merged.erase(std::remove_if(merged.begin(), merged.end(), [](const Run& r) { return r.last - r.first + 1 < kShortestRun; }),
                 merged.end());
    return merged;
}

// Line coordinate of sample j's middle.
double U(double j) { return (j + 0.5) / kSamplesPerLine; }

double Rising(const std::vector<float>& v, int first, double mid) {
    const double a = v[first - 1], b = v[first];
    return U(first - 1 + std::clamp((mid - a) / (b - a), 0.0, 1.0));
}
double Falling(const std::vector<float>& v, int last, double mid) {
    const double a = v[last], b = v[last + 1];
    return U(last + std::clamp((a - mid) / (a - b), 0.0, 1.0));
}

std::optional<GroupBand> BandOfGroup(const std::vector<float>& v, double mid, double height) {
    const std::vector<Run> runs = Runs(v, mid);
    const int lastSample = static_cast<int>(v.size()) - 1;
    auto touchesTop = [&](const Run& r) { return r.first <= 1; };
    auto touchesBottom = [&](const Run& r) { return r.last >= lastSample - 1; };
    if (runs.size() == 1) {
        const Run& r = runs[0];
        if (touchesTop(r) && touchesBottom(r)) return std::nullopt;
        GroupBand g{false, touchesTop(r), touchesBottom(r), 0, height, 0};
        if (!g.atTop) g.start = Rising(v, r.first, mid);
        if (!g.atBottom) g.end = Falling(v, r.last, mid);
        return g;
    }
    if (runs.size() == 2 && touchesTop(runs[0]) && touchesBottom(runs[1]) && !touchesBottom(runs[0]) &&
        !touchesTop(runs[1]))
        return GroupBand{true, false, false, Rising(v, runs[1].first, mid), Falling(v, runs[0].last, mid), 0};
    return std::nullopt;
}

// Least-squares line through (x, y), refitted without points beyond three spreads.
std::pair<double, double> FitLine(const std::vector<double>& x, const std::vector<double>& y, double centre) {
    std::vector<bool> use(x.size(), true);
    double a = 0, b = 0;
    for (int round = 0; round < 2; ++round) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!use[i]) continue;
            const double dx = x[i] - centre;
            n += 1, sx += dx, sy += y[i], sxx += dx * dx, sxy += dx * y[i];
        }
        const double d = n * sxx - sx * sx;
        b = d > 1e-9 ? (n * sxy - sx * sy) / d : 0;
        a = (sy - b * sx) / n;
        std::vector<double> residuals;
        for (std::size_t i = 0; i < x.size(); ++i) residuals.push_back(std::abs(y[i] - a - b * (x[i] - centre)));
        const double spread = 1.4826 * Median(residuals) + 0.05;
        for (std::size_t i = 0; i < x.size(); ++i) use[i] = residuals[i] <= 3 * spread;
    }
    return {a, b};
}

}  // namespace

std::optional<Band> FindBand(const WhiteProfile& profile) {
    const int groups = profile.values.cols;
    std::vector<std::vector<float>> columns(groups);
    std::vector<double> lows, highs, ratios, contrasts;
    for (int g = 0; g < groups; ++g) {
        std::vector<float> valid;
        for (int j = 0; j < profile.values.rows; ++j) {
            const float v = profile.values(j, g);
            columns[g].push_back(std::isnan(v) ? 0.0f : v);
            if (!std::isnan(v)) valid.push_back(v);
        }
        if (valid.size() < 8) return std::nullopt;
        const double low = Percentile(valid, 0.03), high = Percentile(valid, 0.97);
        lows.push_back(low), highs.push_back(high);
        contrasts.push_back((high - low) / std::max(high, 1e-9));
        ratios.push_back((low - profile.black) / std::max(high - low, 1e-9));
    }
    if (Median(contrasts) < kFlat) return std::nullopt;
    Band band;
    const double extent = static_cast<double>(profile.values.rows) / kSamplesPerLine;
    const double ratio = Median(ratios);
    band.passes = ratio < 0.3 ? 0 : static_cast<int>(std::lround(ratio));

    // Each group's band; the most common shape wins.
    std::vector<GroupBand> found;
    std::map<int, int> shapes;
    for (int g = 0; g < groups; ++g) {
        auto group = BandOfGroup(columns[g], (lows[g] + highs[g]) / 2, extent);
        if (!group) continue;
        group->x = profile.groupColumns[g];
        found.push_back(*group);
        ++shapes[group->wraps * 4 + group->atTop * 2 + group->atBottom];
    }
    if (found.empty()) return std::nullopt;
    const int shape = std::max_element(shapes.begin(), shapes.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    band.wraps = shape & 4, band.startAtTop = shape & 2, band.endAtBottom = shape & 1;
    std::vector<double> xs, starts, ends, lengths;
    for (const GroupBand& g : found) {
        if (g.wraps * 4 + g.atTop * 2 + g.atBottom != shape) continue;
        xs.push_back(g.x), starts.push_back(g.start), ends.push_back(g.end);
        lengths.push_back(g.wraps ? extent - g.start + g.end : g.end - g.start);
    }
    band.groups = static_cast<int>(xs.size());
    const double middle = profile.width / 2.0;
    std::tie(band.start, band.startSlope) = FitLine(xs, starts, middle);
    std::tie(band.end, band.endSlope) = FitLine(xs, ends, middle);
    if (band.startAtTop) band.start = 0, band.startSlope = 0;
    if (band.endAtBottom) band.end = extent, band.endSlope = 0;
    band.start += profile.firstU, band.end += profile.firstU;
    double mean = 0, square = 0;
    for (double l : lengths) mean += l, square += l * l;
    mean /= lengths.size();
    band.length = mean;
    band.lengthSpread = lengths.size() > 1 ? std::sqrt(std::max(0.0, square / lengths.size() - mean * mean) / (lengths.size() - 1)) : 1;

    const double top = profile.firstU, bottom = profile.firstU + extent;
    if (band.wraps) {
        band.atStart = {band.start, bottom};
        band.atEnd = {top, band.end};
        band.beforeStart = band.afterEnd = {band.end, band.start};
    } else {
        band.atStart = band.atEnd = {band.start, band.end};
        band.beforeStart = {top, band.start};
        band.afterEnd = {band.end, bottom};
    }
    return band;
}

}  // namespace velmaro::photo
