#include "photo/read/zone.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "photo/model/pictures.h"
#include "photo/model/timing.h"
#include "photo/read/fit.h"
#include "photo/read/robust.h"

namespace velmaro::photo {

namespace {

constexpr double kPure = 0.15;     // a share this close to 0 or 1 counts as whole
constexpr int kShortestSegment = 3;
constexpr int kFraction = -1;      // segment kind: lines between two pictures

struct Segment {
    int kind;  // a phase, or kFraction
    int first, last;  // rows
};

int KindOf(const float* s) {
    int black = 0;
    for (int j = 0; j < kBars; ++j) {
        if (std::isnan(s[j])) return kFraction;
        if (s[j] > kPure && s[j] < 1 - kPure) return kFraction;
        black += s[j] < 0.5;
    }
    // Black bars are the first ones: bars 1..p in phase p.
    for (int j = 0; j < black; ++j)
        if (s[j] >= 0.5) return kFraction;
    return black;
}

std::vector<Segment> Segments(const cv::Mat1f& shares) {
    std::vector<Segment> segments;
    for (int n = 0; n < shares.rows; ++n) {
        const int kind = KindOf(shares.ptr<float>(n));
        if (!segments.empty() && segments.back().kind == kind) segments.back().last = n;
        else segments.push_back({kind, n, n});
    }
    // Short segments go to their neighbours: the zone's edges and the noise.
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t i = 0; i < segments.size() && segments.size() > 1; ++i) {
            if (segments[i].last - segments[i].first + 1 >= kShortestSegment) continue;
            const std::size_t into = i == 0 ? 1 : i - 1;
            segments[into].first = std::min(segments[into].first, segments[i].first);
            segments[into].last = std::max(segments[into].last, segments[i].last);
            segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(i));
            merged = true;
            break;
        }
        for (std::size_t i = 1; i < segments.size(); ++i) {
            if (segments[i].kind != segments[i - 1].kind) continue;
            segments[i - 1].last = segments[i].last;
            segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(i));
            merged = true;
            break;
        }
    }
    return segments;
}

// The phase before and after a change, from the bars that the change moves: bar j alone
// when phase j - 1 turns into j, all four when phase 4 turns into 0.
std::optional<std::pair<int, int>> ChangeOf(const cv::Mat1f& shares, const Segment& zone) {
    int moving = 0, which = 0;
    for (int j = 0; j < kBars; ++j) {
        double low = 1, high = 0;
        for (int n = zone.first; n <= zone.last; ++n) {
            if (std::isnan(shares(n, j))) continue;
            low = std::min<double>(low, shares(n, j)), high = std::max<double>(high, shares(n, j));
        }
        if (high - low > 0.5) ++moving, which = j;
    }
    if (moving == 1) return std::pair{which, which + 1};
    if (moving == kBars) return std::pair{kBars, 0};
    return std::nullopt;
}

// Share of the window that a line scanned s lines after the opening spent in the old
// picture, for a window of T lines and a panel time constant tau (lines).
double OldShare(double s, double length, double tau) {
    const double held = std::clamp(s, 0.0, length);
    if (s >= length) return 1;
    const double after = tau > 1e-6 ? tau * (std::exp(-std::max(0.0, -s) / tau) - std::exp(-(length - s) / tau)) : 0;
    return (held + after) / length;
}

double OldShareOfLine(const cv::Mat1f& shares, int row, int oldPhase, int newPhase) {
    // Bar j (1-based) is white in phases below j.
    double sum = 0;
    int count = 0;
    for (int j = 1; j <= kBars; ++j) {
        const bool whiteOld = oldPhase < j, whiteNew = newPhase < j;
        if (whiteOld == whiteNew || std::isnan(shares(row, j - 1))) continue;
        sum += whiteOld ? shares(row, j - 1) : 1 - shares(row, j - 1);
        ++count;
    }
    return count ? sum / count : NAN;
}

}  // namespace

std::optional<ChangeZone> FindChangeZone(const cv::Mat1f& shares, double barColumn, int width,
                                         std::optional<int> vtotal, std::string& why) {
    const std::vector<Segment> segments = Segments(shares);
    std::vector<const Segment*> zones;
    for (const Segment& s : segments)
        if (s.kind == kFraction) zones.push_back(&s);
    if (zones.empty()) {
        why = "the picture did not change while the shutter was open, so the exposure cannot be seen";
        return std::nullopt;
    }
    const bool wraps = zones.size() == 2 && zones[0]->first == 0 && zones[1]->last == shares.rows - 1;
    if (zones.size() > 1 && !wraps) {
        why = "the picture changed more than once down the screen: an exposure over a refresh is not read on an LCD";
        return std::nullopt;
    }
    if (wraps && !vtotal) {
        why = "the change runs over the blanking: give --refresh (or --vtotal) to read it";
        return std::nullopt;
    }
    const Segment& main = *zones.back();  // the change that began the window
    const auto change = ChangeOf(shares, main);
    if (!change) {
        why = "the bars do not show one picture following another";
        return std::nullopt;
    }
    ChangeZone zone;
    std::tie(zone.oldPhase, zone.newPhase) = *change;
    std::optional<std::pair<int, int>> later;
    if (wraps) {
        later = ChangeOf(shares, *zones[0]);
        if (!later || later->first != zone.newPhase) {
            why = "the bars after the blanking do not follow the picture before it";
            return std::nullopt;
        }
        zone.laterPhase = later->second;
    }

    // Lines around the zone, with the old picture's share of each, scanned s lines into
    // the refresh (the bars' column is reached a little after the line's start).
    const double sweep = kActiveLineShare * barColumn / width;
    std::vector<double> scanned, old;
    const int margin = std::max(6, (main.last - main.first) / 4);
    auto collect = [&](int from, int to, int oldPhase, int newPhase, double offset) {
        for (int n = std::max(0, from); n <= std::min(shares.rows - 1, to); ++n) {
            const double q = OldShareOfLine(shares, n, oldPhase, newPhase);
            if (!std::isnan(q)) scanned.push_back(n + sweep + offset), old.push_back(q);
        }
    };
    collect(main.first - margin, wraps ? shares.rows - 1 : main.last + margin, zone.oldPhase, zone.newPhase, 0);
    if (wraps) collect(0, zones[0]->last + margin, later->first, later->second, *vtotal);
    if (scanned.size() < 6) {
        why = "too few lines in the change zone";
        return std::nullopt;
    }
    const double firstGuess = main.first, lengthGuess = std::max(2.0, (wraps ? zones[0]->last + *vtotal : main.last) - firstGuess + 1.0);
    const std::vector<double> measured = old;
    auto fitRamp = [&](const std::vector<double>& start) {
        return LeastSquares(
            [&](const std::vector<double>& p) {
                std::vector<double> r(scanned.size());
                for (std::size_t i = 0; i < scanned.size(); ++i)
                    r[i] = OldShare(scanned[i] - p[0], std::max(0.5, p[1]), std::abs(p[2])) - old[i];
                return r;
            },
            start);
    };
    FitResult fit = fitRamp({firstGuess, lengthGuess, 0.5});
    // The bars' levels of black and white come out a little off (blur, the reference
    // columns): they are taken from lines well before and after the zone, where the
    // panel has long settled, and the shares rescaled between them before fitting again.
    const int settled = static_cast<int>(std::max({10.0, (main.last - main.first) / 2.0, 5 * std::abs(fit.parameters[2])}));
    auto level = [&](int from, int to) -> std::optional<double> {
        std::vector<double> values;
        for (int n = std::max(0, from); n <= std::min(shares.rows - 1, to); ++n) {
            const double q = OldShareOfLine(shares, n, zone.oldPhase, zone.newPhase);
            if (!std::isnan(q)) values.push_back(q);
        }
        if (values.size() < 5) return std::nullopt;
        return Median(values);
    };
    const auto none = wraps ? std::nullopt : level(main.first - settled - 40, main.first - settled);
    const auto all = wraps ? std::nullopt : level(main.last + settled, main.last + settled + 40);
    if (none || all) {
        const double low = none.value_or(0.0), high = all.value_or(1.0);
        if (high - low > 0.5) {
            for (std::size_t i = 0; i < old.size(); ++i) old[i] = (measured[i] - low) / (high - low);
            fit = fitRamp(fit.parameters);
        }
    }
    zone.start = fit.parameters[0];
    zone.length = std::max(0.5, fit.parameters[1]);
    zone.response = std::abs(fit.parameters[2]) * std::log(9.0);
    zone.lengthError = fit.errors[1];
    return zone;
}

}  // namespace velmaro::photo
