#include "photo/read/zone.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "photo/model/pictures.h"
#include "photo/model/timing.h"
#include "photo/read/fit.h"
#include "photo/read/robust.h"

namespace velmaro::photo {

namespace {

constexpr double kChanged = 0.1;          // a share this far from 0 and 1 shows a change
constexpr int kSlopeReach = 4;            // lines on each side of a line whose bars' slope is taken
constexpr double kGuessedBlanking = 0.05; // of the height, when the vertical total is not known
constexpr int kCoarseStride = 8;          // lines between those the first search compares
constexpr int kFinalists = 2;             // first guesses fitted in full
constexpr int kFitStride = 2;             // lines between those the full fit compares
constexpr double kSmallestLevels = 0.5;   // the bars' black and white must lie this far apart

// The window, and the picture the refresh it opened in showed.
struct Window {
    double start = 0, length = 1;
    double rise = 0, fall = 0;  // the panel's time constants, lines, for a bar turning white and black
    int phase0 = 0;
};

int PhaseOf(const Window& w, long long refresh) {
    return static_cast<int>(((w.phase0 + refresh) % kPhases + kPhases) % kPhases);
}

// Bar j (1..4) is white in the phases below j.
bool White(int bar, int phase) { return phase < bar; }

// The share of the window that a line scanned at s in each refresh showed bar j white. The
// line shows refresh k's picture from its scan at kV + s until the next; a change of the
// bar's level lags behind the scan by the panel's time constant.
double Predicted(const Window& w, int bar, double s, double vtotal) {
    const double a = w.start, b = w.start + w.length;
    const auto first = static_cast<long long>(std::floor((a - s) / vtotal));
    const auto last = static_cast<long long>(std::floor((b - s) / vtotal));
    double lit = 0;
    for (long long k = first; k <= last; ++k) {
        const double shown = k * vtotal + s;
        if (White(bar, PhaseOf(w, k))) lit += std::min(b, shown + vtotal) - std::max(a, shown);
        const bool before = White(bar, PhaseOf(w, k - 1)), after = White(bar, PhaseOf(w, k));
        const double tau = after ? w.rise : w.fall;
        if (before == after || tau <= 0) continue;
        const double lag = tau * (std::exp(-std::max(0.0, a - shown) / tau) - std::exp(-std::max(0.0, b - shown) / tau));
        lit += (before ? 1 : -1) * lag;
    }
    return lit / w.length;
}

struct Lines {
    std::vector<double> scanned;                 // scan position of each line with shares
    std::vector<std::array<double, kBars>> bars;  // its shares
};

Lines Measured(const cv::Mat1f& shares, double sweep) {
    Lines lines;
    for (int n = 0; n < shares.rows; ++n) {
        std::array<double, kBars> row{};
        bool whole = true;
        for (int j = 0; j < kBars; ++j) whole = whole && !std::isnan(row[j] = shares(n, j));
        if (!whole) continue;
        lines.scanned.push_back(n + sweep);
        lines.bars.push_back(row);
    }
    return lines;
}

// Residuals of the measured shares against the window's, with the bars' black and white
// levels (the bars take some of their gaps' light through blur) fitted to them.
std::vector<double> Residuals(const Lines& lines, const Window& w, double vtotal, int stride) {
    std::vector<double> predicted, measured;
    for (std::size_t i = 0; i < lines.scanned.size(); i += stride) {
        for (int j = 0; j < kBars; ++j) {
            predicted.push_back(Predicted(w, j + 1, lines.scanned[i], vtotal));
            measured.push_back(lines.bars[i][j]);
        }
    }
    const double n = static_cast<double>(predicted.size());
    double sp = 0, sm = 0, spp = 0, spm = 0;
    for (std::size_t i = 0; i < predicted.size(); ++i)
        sp += predicted[i], sm += measured[i], spp += predicted[i] * predicted[i], spm += predicted[i] * measured[i];
    const double d = n * spp - sp * sp;
    double scale = d > 1e-12 ? (n * spm - sp * sm) / d : 1;
    scale = std::max(scale, kSmallestLevels);
    const double low = (sm - scale * sp) / n;
    std::vector<double> r(predicted.size());
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = low + scale * predicted[i] - measured[i];
    return r;
}

double Cost(const std::vector<double>& r) {
    double sum = 0;
    for (double v : r) sum += v * v;
    return sum;
}

// The window's length from how steeply the bars ramp: down the screen a line's window
// slides one line against the refreshes, so a share ramps by one window's length per
// line (or twice that where two rewrites pass the same bar).
double LengthFromSlopes(const Lines& lines) {
    std::vector<double> slopes;
    const int count = static_cast<int>(lines.scanned.size());
    for (int i = kSlopeReach; i + kSlopeReach < count; ++i) {
        if (lines.scanned[i + kSlopeReach] - lines.scanned[i - kSlopeReach] > 2 * kSlopeReach + 0.5) continue;
        for (int j = 0; j < kBars; ++j) {
            double sx = 0, sy = 0, sxx = 0, sxy = 0, n = 0;
            for (int k = i - kSlopeReach; k <= i + kSlopeReach; ++k) {
                const double x = lines.scanned[k] - lines.scanned[i], y = lines.bars[k][j];
                sx += x, sy += y, sxx += x * x, sxy += x * y, n += 1;
            }
            slopes.push_back(std::abs((n * sxy - sx * sy) / (n * sxx - sx * sx)));
        }
    }
    if (slopes.empty()) return 0;
    const double steepest = *std::max_element(slopes.begin(), slopes.end());
    std::vector<double> steep;
    for (double s : slopes)
        if (s > 0.3 * steepest) steep.push_back(s);
    return 1 / Median(steep);
}

bool Changed(const Lines& lines) {
    for (const auto& row : lines.bars)
        for (double s : row)
            if (s > kChanged && s < 1 - kChanged) return true;
    return false;
}

// First guesses: the window's start on a grid over a refresh, for every picture the
// refresh may have shown and lengths around the slopes' guess, compared on some lines.
std::vector<Window> FirstGuesses(const Lines& lines, double vtotal, double guess) {
    struct Scored {
        Window w;
        double cost;
    };
    std::vector<Scored> scored;
    for (double factor : {0.6, 1.0, 1.6}) {
        const double length = std::clamp(guess * factor, 2.0, 6 * vtotal);
        const double step = std::clamp(length / 8, 2.0, 16.0);
        for (int phase0 = 0; phase0 < kPhases; ++phase0)
            for (double start = 0; start < vtotal; start += step)
                scored.push_back({Window{start, length, 0.02 * length, 0.02 * length, phase0}, 0});
    }
    // Hundreds of windows, each compared on every fourth line: over all the cores.
    cv::parallel_for_(cv::Range(0, static_cast<int>(scored.size())), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) scored[i].cost = Cost(Residuals(lines, scored[i].w, vtotal, kCoarseStride));
    });
    const auto keep = std::min<std::size_t>(kFinalists, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + keep, scored.end(),
                      [](const Scored& a, const Scored& b) { return a.cost < b.cost; });
    std::vector<Window> guesses;
    for (std::size_t i = 0; i < keep; ++i) guesses.push_back(scored[i].w);
    return guesses;
}

// The panel's time constant of the changes the window saw: a bar turning white, black, or
// both; the other one leaves the photo untouched and is not reported.
double SeenTimeConstant(const Window& w, double vtotal) {
    double seen = 0;
    const auto first = static_cast<long long>(std::floor((w.start - vtotal) / vtotal));
    const auto last = static_cast<long long>(std::floor((w.start + w.length) / vtotal));
    for (long long k = first; k <= last; ++k)
        for (int bar = 1; bar <= kBars; ++bar) {
            const bool before = White(bar, PhaseOf(w, k - 1)), after = White(bar, PhaseOf(w, k));
            if (before != after) seen = std::max(seen, after ? w.rise : w.fall);
        }
    return seen;
}

struct Fitted {
    Window w;
    FitResult fit;
};

Fitted Refine(const Lines& lines, Window w, double vtotal) {
    const int phase0 = w.phase0;
    auto windowOf = [&](const std::vector<double>& p) {
        return Window{p[0], std::max(0.5, p[1]), std::abs(p[2]), std::abs(p[3]), phase0};
    };
    FitResult fit = LeastSquares([&](const std::vector<double>& p) { return Residuals(lines, windowOf(p), vtotal, kFitStride); },
                                 {w.start, w.length, w.rise, w.fall});
    return {windowOf(fit.parameters), fit};
}

}  // namespace

std::optional<ChangeZone> FindChangeZone(const cv::Mat1f& shares, double barColumn, int width,
                                         std::optional<int> vtotal, std::string& why) {
    const Lines lines = Measured(shares, kActiveLineShare * barColumn / width);
    if (lines.scanned.size() < 12) {
        why = "too few lines show the bars";
        return std::nullopt;
    }
    if (!Changed(lines)) {
        why = "the picture did not change while the shutter was open, so the exposure cannot be seen";
        return std::nullopt;
    }
    const double total = vtotal ? *vtotal : std::ceil(shares.rows * (1 + kGuessedBlanking));
    std::optional<Fitted> best;
    for (const Window& guess : FirstGuesses(lines, total, LengthFromSlopes(lines))) {
        Fitted fitted = Refine(lines, guess, total);
        if (!best || fitted.fit.rms < best->fit.rms) best = fitted;
    }
    const Window& w = best->w;
    // Place the start in the refresh it opened in.
    const double start = w.start - total * std::floor(w.start / total);
    const long long shift = static_cast<long long>(std::floor(w.start / total));
    const double end = start + w.length;
    const auto endRefresh = static_cast<long long>(std::floor(end / total));
    if (!vtotal && endRefresh > 0) {
        why = "the window runs over the blanking: give --refresh (or --vtotal) to read it";
        return std::nullopt;
    }
    Window placed = w;
    placed.phase0 = PhaseOf(w, shift);
    ChangeZone zone;
    const bool startBlank = start >= shares.rows;
    zone.firstPhase = PhaseOf(placed, startBlank ? 1 : 0);
    zone.lastPhase = PhaseOf(placed, endRefresh);
    zone.refreshes = static_cast<int>(endRefresh - (startBlank ? 1 : 0) + 1);
    zone.start = start;
    zone.length = w.length;
    zone.lengthError = best->fit.errors[1];
    zone.startError = best->fit.errors[0];
    zone.response = SeenTimeConstant(w, total) * std::log(9.0);
    return zone;
}

}  // namespace velmaro::photo
