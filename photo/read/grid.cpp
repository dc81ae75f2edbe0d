#include "photo/read/grid.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <optional>
#include <vector>

#include "photo/model/geometry.h"
#include "photo/read/robust.h"
#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr int kRounds = 3;
constexpr int kMeasurements = 120;  // phases along a band at most; more lines spread them out
constexpr int kFirstMeasurements = 40;  // ... in the rounds before the last, which only settle the grid
constexpr double kEdgeStep = 4;     // lines between edge-strip measurements
constexpr double kPerspectivePrior = 0.02;
constexpr double kEdgeWeight = 0.3;  // an edge strip fixes X to some tenths of a column
constexpr int kFewestEdgesASide = 4;  // edge strip measurements on each side that fix the columns' scale
constexpr double kHeldPerspective = 100;  // ... short of which the perspective is held this much more
constexpr double kColumnHold = 0.1;       // ... and the columns' scale by constraints of this weight
constexpr double kExtentSlack = 16;  // lines beyond the screen's height that a piece's blurred outline may reach
constexpr double kFaintestMark = 0.04;  // a mark's amplitude over the mean below which its phase is noise
constexpr double kFewestSpans = 8;  // a mark's measurements along a piece, at least, where overlapping spans allow
constexpr double kEvenLight = 0.8;  // the two references' light over each other's, at least, for a row to count
constexpr double kUnlit = 0.2;      // of a track's brightest reference: rows darker than this are not lit
constexpr double kLeastSpanShare = 0.25;  // of a track's columns that must show a measurement's whole span
constexpr double kLeastSlope = 0.05;   // lines per column: a slant less than this is taken as level
constexpr std::size_t kUnwrapReach = 3;  // measurements before one whose difference from the coarse mark it is unwrapped onto
constexpr int kSnapPasses = 3;       // rounds of shifting tracks by a period while that fits better
constexpr double kNothingSlipped = 0.2;  // lines (RMS) that the marks may stray from a grid where none slipped
constexpr double kSlipped = 0.6;      // of a mark's period, that a value the grid misses by has slipped
constexpr double kColumnsHeld = 0.02;  // of a column's step in the photo, that shifting tracks may move it by
constexpr double kSnapGain = 0.9;     // of the misfit, that a shift must bring it below
constexpr double kSteepestSlope = 5;   // ... and one more than this is not followed (as the locating strip's)

// A mark of the ruler that repeats down the lines: its columns on the left and, mirrored,
// on the right, how many lines it repeats after, where in a period its light is
// brightest, and how much one measured phase weighs against the others.
struct Mark {
    int columns[2][2];
    double period;
    int samples;       // rows sampled a period
    double brightest;  // line coordinate modulo the period
    double span;       // lines one measurement spans: whole periods
    double step;       // lines between measurements, at least
    double weight;
};

// The line stripes, black on even lines, with a column kept clear of each border: they
// fix u to some hundredths of a line, modulo two lines, while blur leaves them contrast.
constexpr Mark kStripes{{{kStripeFirst + 2, kStripeLast - 1}, {Mirrored(kStripeLast) + 2, Mirrored(kStripeFirst) - 1}},
                        2, 8, 0.5, 4, 2, 1};
// The ticks of every tenth line, dark on lines 9 to 11 of each ten: modulo ten lines,
// through blur that takes the stripes away.
constexpr Mark kTenths{{{kTenthTickFirst, kTenthTickLast}, {Mirrored(kTenthTickLast), Mirrored(kTenthTickFirst)}},
                       10, 16, 4.5, 10, 2, 0.5};
// The ticks of every fifth line, dark on line 5 of each five, one line thick: modulo five
// lines, their contrast kept through blur that takes the stripes away, two of them in a
// band too short to hold two of the tenths' (sampled finely: a narrow mark's harmonics
// would alias into its phase). Columns are kept clear of the stripes and of the tenths'
// ticks on either side, whose rows, blurred across, would pull its phase.
constexpr Mark kFifths{{{kFifthTickFirst + 2, kFifthTickLast - 1}, {Mirrored(kFifthTickLast) + 1, Mirrored(kFifthTickFirst) - 2}},
                       5, 20, 2, 5, 1, 0.5};
// Two groups of columns on each side that are white on every line: the ruler's margin
// inside the edge strip, and the gap between the ticks and the labels. A row's light
// there, taken between them, normalises a mark's rows, so that a band's edge or glow
// inside a measurement does not pass for the mark's phase.
constexpr int kReferenceColumns[2][2][2] = {
    {{kMarginFirst, kMarginLast}, {kTickGapFirst, kTickGapLast}},
    {{Mirrored(kMarginLast), Mirrored(kMarginFirst)}, {Mirrored(kTickGapLast), Mirrored(kTickGapFirst)}}};

struct Constraint {
    cv::Point2d photo;
    double value;   // the true column X or line coordinate u at that photo point
    bool line;      // u (true) or X (false)
    double weight = 1;
    double period = 0;  // lines after which the mark repeats: its value is known modulo this
    int track = -1;     // the phase track it was read along
};

// A mark's phase (a correction of u, wrapped to its period) along one group of its
// columns, unwrapped from line to line.
struct PhaseTrack {
    double column;  // screen column of the group's middle
    std::vector<Constraint> points;
    std::vector<double> deltas;
    std::vector<std::pair<double, double>> levels;  // reference light and modulation of every place measured
};

// Light of a row of one side at a column, between the side's two white references; NaN
// where either is off the photo, or where they differ much: a band's edge passes between
// them there, and the light across the mark is not known. Under a band that a slit
// slanted, `slope` lines down per column, the references are taken along the slant, at
// the same place in the band as the column's row.
double ReferenceLight(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout, int side, double column,
                      double u, double slope) {
    double light[2];
    for (int group = 0; group < 2; ++group) {
        double sum = 0;
        int count = 0;
        for (int x = kReferenceColumns[side][group][0]; x <= kReferenceColumns[side][group][1]; ++x) {
            const double v = SampleAt(sharp, Apply(h, {layout.rulerLeft + x + 0.5, u + slope * (x + 0.5 - column)}));
            if (!std::isnan(v)) sum += v, ++count;
        }
        light[group] = count ? sum / count : NAN;
    }
    if (!(std::min(light[0], light[1]) >= kEvenLight * std::max(light[0], light[1]))) return NAN;
    const double a = (kReferenceColumns[side][0][0] + kReferenceColumns[side][0][1] + 1) / 2.0;
    const double b = (kReferenceColumns[side][1][0] + kReferenceColumns[side][1][1] + 1) / 2.0;
    return light[0] + (light[1] - light[0]) * (column - a) / (b - a);
}

PhaseTrack TrackPhase(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout, const Mark& mark,
                      int side, int firstColumn, int lastColumn, double firstU, double lastU, int measurements,
                      double slope) {
    PhaseTrack track;
    const double column = (firstColumn + lastColumn + 1) / 2.0;
    track.column = layout.rulerLeft + column;
    const double sampleStep = mark.period / mark.samples;
    const std::vector<double> us = Positions(firstU + sampleStep / 2, static_cast<int>((lastU - firstU) / sampleStep), sampleStep);
    if (us.empty()) return track;
    const int perSpan = static_cast<int>(std::lround(mark.span / sampleStep));
    // Whole periods apart, as many as the budget allows; a short band holds few periods of a
    // coarse mark, and its spans then overlap, the mark's own step apart, so that enough of
    // them lie wholly inside the band.
    double step = std::max(mark.step, mark.period * std::ceil((lastU - firstU) / measurements / mark.period));
    if ((lastU - firstU - mark.span) / step + 1 < kFewestSpans) step = mark.step;
    const int stride = std::max(1, static_cast<int>(std::lround(step / sampleStep)));
    const int columnStep = measurements < kMeasurements ? 2 : 1;  // every other column in the rounds that only settle the grid
    // A sample at column x is normalised by the reference of the row at its place in a
    // slanted band: `shift` rows from its own.
    std::vector<int> shifts(static_cast<std::size_t>(lastColumn - firstColumn + 1));
    for (int x = firstColumn; x <= lastColumn; ++x)
        shifts[x - firstColumn] = static_cast<int>(std::lround(slope * (x + 0.5 - column) / sampleStep));
    auto shift = [&](int x) { return shifts[x - firstColumn]; };
    const int reach = std::max(std::abs(shift(firstColumn)), std::abs(shift(lastColumn)));
    // The mark's phase at each row, the same in every column.
    std::vector<std::complex<double>> turns(us.size());
    for (std::size_t i = 0; i < us.size(); ++i) turns[i] = std::polar(1.0, -2 * CV_PI * (us[i] - mark.brightest) / mark.period);
    // The reference light of the rows that measurements take, only.
    std::vector<double> reference(us.size() + 2 * reach, NAN);
    std::vector<bool> taken(reference.size(), false);
    auto referenceAt = [&](int i) -> double& { return reference[i + reach]; };
    double brightest = 0;
    for (int from = 0; from + perSpan <= static_cast<int>(us.size()); from += stride)
        for (int i = from; i < from + perSpan; ++i)
            for (int x = firstColumn; x <= lastColumn; x += columnStep) {
                const int j = i - shift(x);
                if (taken[j + reach]) continue;
                taken[j + reach] = true;
                referenceAt(j) = ReferenceLight(sharp, h, layout, side, column, firstU + sampleStep * (j + 0.5), slope);
                if (!std::isnan(referenceAt(j))) brightest = std::max(brightest, referenceAt(j));
            }
    for (int from = 0; from + perSpan <= static_cast<int>(us.size()); from += stride) {
        std::complex<double> sum = 0;
        double level = 0, light = 0;
        int count = 0;
        for (int x = firstColumn; x <= lastColumn; x += columnStep) {
            // A column counts only with its whole span lit: part of a period weighs its phase.
            bool lit = true;
            for (int i = from; i < from + perSpan && lit; ++i) lit = referenceAt(i - shift(x)) > kUnlit * brightest;
            if (!lit) continue;
            for (int i = from; i < from + perSpan; ++i) {
                const double v = SampleAt(sharp, Apply(h, {layout.rulerLeft + x + 0.5, us[i]}));
                if (std::isnan(v)) continue;
                const double r = referenceAt(i - shift(x));
                sum += v / r * turns[i];
                level += v / r;
                light += r;
                ++count;
            }
        }
        // Under a level band every column is lit or none; a slant may leave some.
        if (count < kLeastSpanShare * perSpan * ((lastColumn - firstColumn) / columnStep + 1)) continue;
        light /= count;
        const double amplitude = 2 * std::abs(sum) / count, mean = level / count;
        track.levels.emplace_back(light, mean > 0 ? amplitude / mean : 0);
        if (mean <= 0 || amplitude < kFaintestMark * mean) continue;
        const double centre = (us[from] + us[from + perSpan - 1]) / 2;
        track.points.push_back({Apply(h, {track.column, centre}), centre, true, mark.weight, mark.period});
        track.deltas.push_back(std::arg(sum) / (2 * CV_PI) * mark.period);
    }
    for (std::size_t i = 1; i < track.deltas.size(); ++i) {
        while (track.deltas[i] - track.deltas[i - 1] > mark.period / 2) track.deltas[i] -= mark.period;
        while (track.deltas[i] - track.deltas[i - 1] < -mark.period / 2) track.deltas[i] += mark.period;
    }
    return track;
}

// The corrections a track gives at line coordinate u, between its measurements; nullopt
// beyond them.
std::optional<double> DeltaAt(const PhaseTrack& track, double u) {
    for (std::size_t i = 1; i < track.points.size(); ++i) {
        const double a = track.points[i - 1].value, b = track.points[i].value;
        if (u < a || u > b || b <= a) continue;
        return track.deltas[i - 1] + (track.deltas[i] - track.deltas[i - 1]) * (u - a) / (b - a);
    }
    return std::nullopt;
}

// Median of how far b's corrections lie above a's, predicted to differ by `expected`, on
// the lines both measured; nullopt when they share none.
std::optional<double> MedianGap(const PhaseTrack& a, const PhaseTrack& b, double expected) {
    std::vector<double> gaps;
    for (std::size_t i = 0; i < b.points.size(); ++i)
        if (const auto d = DeltaAt(a, b.points[i].value)) gaps.push_back(b.deltas[i] - *d - expected);
    if (gaps.empty()) return std::nullopt;
    return Median(gaps);
}

// Shifts b's corrections by whole periods of its own to lie nearest a's plus `expected`.
void AlignTrack(const PhaseTrack& a, PhaseTrack& b, double expected, double period) {
    std::optional<double> gap = MedianGap(a, b, expected);
    if (!gap && !a.deltas.empty() && !b.deltas.empty()) gap = b.deltas.front() - a.deltas.back() - expected;
    if (!gap) return;
    const double shift = -period * std::round(*gap / period);
    for (double& d : b.deltas) d += shift;
}

// Phases of a mark, as corrections of u, along both of its bands. Each band is read in two
// halves: the phase's change from one half to the next gives the grid's tilt, which then
// decides how the far band's phases unwrap against the near one's.
std::vector<PhaseTrack> MarkTracks(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout,
                                   const Mark& mark, double firstU, double lastU, int measurements, double slope) {
    std::vector<PhaseTrack> tracks;
    for (int side = 0; side < 2; ++side) {
        const int first = mark.columns[side][0], last = mark.columns[side][1], middle = (first + last) / 2;
        tracks.push_back(TrackPhase(sharp, h, layout, mark, side, first, middle, firstU, lastU, measurements, slope));
        tracks.push_back(TrackPhase(sharp, h, layout, mark, side, middle + 1, last, firstU, lastU, measurements, slope));
    }
    std::vector<double> tilts;  // lines of phase per column
    for (int band = 0; band < 2; ++band) {
        PhaseTrack &a = tracks[2 * band], &b = tracks[2 * band + 1];
        AlignTrack(a, b, 0, mark.period);
        if (auto gap = MedianGap(a, b, 0)) tilts.push_back(*gap / (b.column - a.column));
    }
    double tilt = 0;
    for (double t : tilts) tilt += t / tilts.size();
    for (int i = 2; i < 4; ++i) AlignTrack(tracks[0], tracks[i], tilt * (tracks[i].column - tracks[0].column), mark.period);
    return tracks;
}

// How much of a mark's contrast the photo kept, where the screen is lit (noise alone
// passes a track's test now and then, so every lit place counts here).
double Modulation(const std::vector<PhaseTrack>& tracks) {
    double brightest = 0;
    for (const PhaseTrack& track : tracks)
        for (const auto& [light, m] : track.levels) brightest = std::max(brightest, light);
    std::vector<double> kept;
    for (const PhaseTrack& track : tracks)
        for (const auto& [light, m] : track.levels)
            if (light > 0.5 * brightest) kept.push_back(m);
    return kept.empty() ? 0 : Median(kept);
}

// Shifts every track of `fine` by whole periods of its mark to agree with the coarse mark's
// tracks on the same side, which know u over a longer period: each measurement on its own
// where the coarse track reaches it, for the fine mark's phases, a period apart every few
// lines, unwrap wrongly from one to the next where the grid's first pitch is some per cent off.
// The coarse track lies some columns away: where the grid's first tilt is off, the two
// differ there by a part of a period that changes slowly down the lines. Each measurement
// keeps that difference as its neighbours have it, so that one near half a period does not
// round one way here and the other way a few lines on.
void AlignToCoarse(std::vector<PhaseTrack>& fine, const std::vector<PhaseTrack>& coarse, double period) {
    for (std::size_t i = 0; i < fine.size() && i < coarse.size(); ++i) {
        const PhaseTrack& reference = coarse[i].points.empty() ? coarse[i ^ 1] : coarse[i];
        AlignTrack(reference, fine[i], 0, period);
        std::vector<std::size_t> at;
        std::vector<double> differences, references;
        for (std::size_t k = 0; k < fine[i].points.size(); ++k)
            if (const auto d = DeltaAt(reference, fine[i].points[k].value)) {
                const double difference = fine[i].deltas[k] - *d;
                at.push_back(k), references.push_back(*d);
                differences.push_back(difference - period * std::round(difference / period));
            }
        if (differences.empty()) continue;
        for (std::size_t k = 1; k < differences.size(); ++k) {
            const std::size_t from = k > kUnwrapReach ? k - kUnwrapReach : 0;
            const double before = Median(std::vector<double>(differences.begin() + static_cast<std::ptrdiff_t>(from),
                                                             differences.begin() + static_cast<std::ptrdiff_t>(k)));
            differences[k] -= period * std::round((differences[k] - before) / period);
        }
        const double shift = period * std::round(Median(differences) / period);
        for (std::size_t k = 0; k < at.size(); ++k) fine[i].deltas[at[k]] = references[k] + differences[k] - shift;
    }
}

void AddConstraints(std::vector<PhaseTrack>& tracks, std::vector<Constraint>& constraints) {
    int id = 0;
    for (const Constraint& c : constraints) id = std::max(id, c.track + 1);
    for (PhaseTrack& track : tracks) {
        for (std::size_t i = 0; i < track.points.size(); ++i) {
            track.points[i].value += track.deltas[i];
            track.points[i].track = id;
            constraints.push_back(track.points[i]);
        }
        ++id;
    }
}

// Where a row shows the edge strip's middle, in columns of the current grid: the place,
// within a search that allows for the grid's first guess, that looks most like the strip
// with its white surroundings (five columns outside, the ruler's margin of ten inside; a
// bar beside the ruler has only five on either side); then the centroid of its darkness.
std::optional<double> FindEdgeStrip(const std::vector<double>& values, double first, double step, int inward) {
    auto mean = [&](double from, double to) {
        const int a = static_cast<int>(std::ceil((from - first) / step)), b = static_cast<int>(std::floor((to - first) / step));
        if (a < 0 || b >= static_cast<int>(values.size()) || b < a) return static_cast<double>(NAN);
        double sum = 0;
        for (int i = a; i <= b; ++i) sum += values[i];
        return sum / (b - a + 1);
    };
    const double width = kEdgeStripLast + 1, inside = kMarginLast + 1 - width, outside = kBarStep - kBarWidth;
    double best = -INFINITY, at = NAN;
    for (double p = first; p <= first + step * (values.size() - 1); p += step) {
        const double black = mean(p, p + width);
        const double in = inward > 0 ? mean(p + width + 0.5, p + width + inside) : mean(p - inside, p - 0.5);
        const double out = inward > 0 ? mean(p - outside, p - 0.5) : mean(p + width + 0.5, p + width + outside);
        const double score = std::min(in, out) - black;
        if (score > best) best = score, at = p;
    }
    if (std::isnan(at)) return std::nullopt;
    // Both sides alike lit: a band's edge passing the strip on a slant would pull the
    // centroid towards the dark side.
    const double before = mean(at - 2, at - 0.5), after = mean(at + width + 0.5, at + width + 2);
    if (!(std::min(before, after) >= kEvenLight * std::max(before, after))) return std::nullopt;
    const double white = std::max(before, after);
    const double black = mean(at + 1, at + width - 1);
    if (!(white > 0) || black > 0.4 * white) return std::nullopt;
    double weight = 0, moment = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double x = first + i * step;
        if (x < at - 2 || x > at + width + 2) continue;
        const double darkness = std::max(0.0, (white - values[i]) - 0.3 * (white - black));
        weight += darkness;
        moment += darkness * x;
    }
    if (weight <= 0) return std::nullopt;
    return moment / weight;
}

// The middles of the ruler's black edge strips, by the centroid of their darkness; under a
// slanted band, along the slant, where the light is even.
std::vector<Constraint> EdgeConstraints(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout,
                                        double firstU, double lastU, int measurements, double slope) {
    std::vector<Constraint> constraints;
    constexpr double kSearch = 12, kStep = 0.25;  // columns each way that the first guess may be off
    const double starts[2] = {-kSearch - (kBarStep - kBarWidth), Mirrored(kEdgeStripLast) - kSearch - kMarginLast};
    const double middles[2] = {kEdgeStripMiddle, kRulerWidth - kEdgeStripMiddle};
    const int count = static_cast<int>((2 * kSearch + kBarStep + kMarginLast + 1) / kStep);
    for (int side = 0; side < 2; ++side) {
        const double step = std::max(kEdgeStep, (lastU - firstU) / measurements);
        for (double centre = firstU + 1; centre <= lastU - 1; centre += step) {
            std::vector<double> values;
            for (int i = 0; i < count; ++i) {
                const double x = starts[side] + i * kStep;
                double sum = 0;
                int used = 0;
                const double along = slope * (x - middles[side]);
                for (double u = centre - 0.75; u <= centre + 0.8; u += 0.5) {
                    const double v = SampleAt(sharp, Apply(h, {layout.rulerLeft + x, u + along}));
                    if (!std::isnan(v)) sum += v, ++used;
                }
                if (used < 4) break;
                values.push_back(sum / used);
            }
            if (static_cast<int>(values.size()) < count) continue;
            const auto found = FindEdgeStrip(values, starts[side], kStep, side == 0 ? +1 : -1);
            if (!found) continue;
            constraints.push_back({Apply(h, {layout.rulerLeft + *found, centre + slope * (*found - middles[side])}),
                                   layout.rulerLeft + middles[side], false, kEdgeWeight});
        }
    }
    return constraints;
}

// Whether the edge strips' constraints come from one side of the ruler alone: a band that
// crosses the ruler on a slant may light only one strip where it crosses. Its columns then
// fix the grid's columns in place and direction but not in scale, and the lines measured
// along a thin slant of the ruler leave its perspective free as well.
bool OneSided(const std::vector<Constraint>& edges, const ScreenLayout& layout) {
    int left = 0, right = 0;
    for (const Constraint& c : edges) (c.value < layout.rulerLeft + kRulerWidth / 2.0 ? left : right)++;
    return std::min(left, right) < kFewestEdgesASide;
}

// Constraints that hold a one-sided fit's columns to the current grid's (the ruler's match,
// to a few tenths of a per cent in scale) at the corners of the ruler's part measured.
std::vector<Constraint> ColumnHold(const cv::Matx33d& current, const ScreenLayout& layout, double firstU, double lastU) {
    std::vector<Constraint> held;
    for (double x : {0.0, static_cast<double>(kRulerWidth)})
        for (double u : {firstU, lastU})
            held.push_back({Apply(current, {layout.rulerLeft + x, u}), layout.rulerLeft + x, false, kColumnHold});
    return held;
}

// The homography that best meets the constraints (one coordinate each), by the linear
// method in normalised photo coordinates, held weakly to the current perspective; a
// one-sided fit is held to the current perspective and columns' scale.
std::optional<cv::Matx33d> Solve(std::vector<Constraint> constraints, const cv::Matx33d& current, bool oneSided,
                                 const ScreenLayout& layout, double firstU, double lastU) {
    int lines = 0, columns = 0;
    cv::Point2d centre(0, 0);
    for (const Constraint& c : constraints) (c.line ? lines : columns)++, centre += c.photo;
    if (lines < 6 || columns < 4) return std::nullopt;
    centre /= static_cast<double>(constraints.size());
    double spread = 0;
    for (const Constraint& c : constraints) spread += cv::norm(c.photo - centre);
    spread = std::max(1.0, spread / constraints.size());
    if (oneSided) {
        const std::vector<Constraint> held = ColumnHold(current, layout, firstU, lastU);
        constraints.insert(constraints.end(), held.begin(), held.end());
    }
    const cv::Matx33d normalise(1 / spread, 0, -centre.x / spread, 0, 1 / spread, -centre.y / spread, 0, 0, 1);

    // The current grid, photo (normalised) to screen, gives the prior's perspective.
    cv::Matx33d prior = Inverse(current) * normalise.inv();
    prior *= 1 / prior(2, 2);
    cv::Mat1d a(static_cast<int>(constraints.size()) + 2, 8, 0.0), b(a.rows, 1, 0.0);
    int row = 0;
    for (const Constraint& c : constraints) {
        const cv::Point2d p = Apply(normalise, c.photo);
        const int offset = c.line ? 3 : 0;
        const double weight = c.weight;
        a(row, offset + 0) = weight * p.x;
        a(row, offset + 1) = weight * p.y;
        a(row, offset + 2) = weight;
        a(row, 6) = -weight * c.value * p.x;
        a(row, 7) = -weight * c.value * p.y;
        b(row, 0) = weight * c.value;
        ++row;
    }
    const double hold = (oneSided ? kHeldPerspective : kPerspectivePrior) * std::sqrt(static_cast<double>(constraints.size()));
    a(row, 6) = hold, b(row, 0) = hold * prior(2, 0), ++row;
    a(row, 7) = hold, b(row, 0) = hold * prior(2, 1);
    cv::Mat1d theta;
    if (!cv::solve(a, b, theta, cv::DECOMP_SVD)) return std::nullopt;
    const cv::Matx33d photoToScreen(theta(0), theta(1), theta(2), theta(3), theta(4), theta(5), theta(6), theta(7), 1);
    return Inverse(photoToScreen * normalise);
}

double Residual(const Constraint& c, const cv::Matx33d& back) {
    const cv::Point2d screen = Apply(back, c.photo);
    return (c.line ? screen.y : screen.x) - c.value;
}

std::vector<Constraint> WithoutOutliers(const std::vector<Constraint>& constraints, const cv::Matx33d& h) {
    const cv::Matx33d back = Inverse(h);
    std::vector<Constraint> kept;
    for (bool line : {true, false}) {
        std::vector<double> residuals;
        for (const Constraint& c : constraints)
            if (c.line == line) residuals.push_back(Residual(c, back));
        if (residuals.empty()) continue;
        const double limit = 4 * RobustSpread(residuals) + 0.05;
        for (const Constraint& c : constraints)
            if (c.line == line && std::abs(Residual(c, back)) <= limit) kept.push_back(c);
    }
    return kept;
}

// Shifts each track's values by whole periods of its mark where that lets one grid fit
// them better. Tracks are aligned to each other pairwise, some columns apart and, across
// a slanted band, on lines that the other does not see: there the grid's first tilt
// decides, and one that is off slips a track by a period. The grid that fits every
// track at once knows the tilt; the first band of the coarsest mark holds still.
void SnapTracks(std::vector<Constraint>& constraints, const cv::Matx33d& current, bool oneSided,
                const ScreenLayout& layout, double firstU, double lastU, bool alongTracks) {
    // A shift that the grid fits by turning or stretching its columns (few edge strips
    // hold them where a band crosses the ruler steeply) is no better fit: the columns
    // must stay where the grid before any shift put them.
    const cv::Point2d middle(layout.width / 2.0, (firstU + lastU) / 2);
    auto columnStep = [&](const cv::Matx33d& h) { return Apply(h, middle + cv::Point2d(1, 0)) - Apply(h, middle); };
    std::optional<cv::Point2d> held;
    auto misfit = [&]() -> double {
        const auto solved = Solve(constraints, current, oneSided, layout, firstU, lastU);
        if (!solved) return INFINITY;
        const cv::Point2d step = columnStep(*solved);
        if (!held) held = step;
        if (cv::norm(step - *held) > kColumnsHeld * cv::norm(*held)) return INFINITY;
        const cv::Matx33d back = Inverse(*solved);
        double sum = 0, weights = 0;
        for (const Constraint& c : constraints) {
            if (!c.line) continue;
            const double r = Residual(c, back);
            sum += c.weight * r * r, weights += c.weight;
        }
        return weights > 0 ? sum / weights : 0;
    };
    std::map<int, double> periods;
    int anchor = -1;
    double coarsest = 0;
    for (const Constraint& c : constraints) {
        if (!c.line || c.track < 0) continue;
        periods[c.track] = c.period;
        if (c.period > coarsest) coarsest = c.period, anchor = c.track;
    }
    // Moves tried, largest first: every mark of the far side of the ruler by the coarsest
    // period (its tracks were aligned to the near side's across lines the near side may not
    // see); a band's two halves of one mark's columns together (they were aligned with each
    // other first); one track alone. Each by a period either way, kept where it fits better.
    struct Move {
        std::vector<int> tracks;
        double by;
    };
    std::vector<Move> moves;
    const int anchorSide = (anchor % 4) / 2;  // each mark's tracks: two halves of each side
    std::vector<int> farSide;
    for (const auto& [track, period] : periods)
        if ((track % 4) / 2 != anchorSide) farSide.push_back(track);
    if (!farSide.empty()) moves.push_back({farSide, coarsest});
    for (const auto& [track, period] : periods)
        if (track % 2 == 0 && track / 2 != anchor / 2) moves.push_back({{track, track + 1}, period});
    if (alongTracks)
        for (const auto& [track, period] : periods)
            if (track != anchor) moves.push_back({{track}, period});
    auto shift = [&](const Move& move, double by) {
        for (Constraint& c : constraints)
            if (c.line && std::find(move.tracks.begin(), move.tracks.end(), c.track) != move.tracks.end()) c.value += by;
    };
    double best = misfit();
    // Where the grid fits every value to a fraction of the finest period, nothing slipped.
    if (best < kNothingSlipped * kNothingSlipped) return;
    for (int pass = 0; pass < kSnapPasses; ++pass) {
        bool moved = false;
        for (const Move& move : moves)
            for (double by : {move.by, -move.by}) {
                shift(move, by);
                const double m = misfit();
                if (m < kSnapGain * best) {
                    best = m, moved = true;
                    break;
                }
                shift(move, -by);
            }
        if (!moved) break;
    }
    // A track may slip by a period along its own lines too, where a band's edge crosses it:
    // its values that the grid misses by most of a period move onto it.
    if (!alongTracks) return;
    const auto solved = Solve(constraints, current, oneSided, layout, firstU, lastU);
    if (!solved) return;
    const cv::Matx33d back = Inverse(*solved);
    for (Constraint& c : constraints) {
        if (!c.line || c.period <= 0) continue;
        const double r = Residual(c, back);
        if (std::abs(r) > kSlipped * c.period) c.value -= c.period * std::round(r / c.period);
    }
}

double StripeResidual(const std::vector<Constraint>& constraints, const cv::Matx33d& h) {
    const cv::Matx33d back = Inverse(h);
    double sum = 0;
    int count = 0;
    for (const Constraint& c : constraints) {
        if (!c.line) continue;
        const double d = Residual(c, back);
        sum += d * d;
        ++count;
    }
    return count ? std::sqrt(sum / count) : 0;
}

// A grid fitted to a piece of the screen puts the whole piece on the near side of its
// horizon, over no more lines than the screen has; one fitted to something else may
// stretch the piece over any number of lines.
bool FitsTheScreen(const Piece& piece, const Grid& grid, const ScreenLayout& layout) {
    const cv::Matx33d back = Inverse(grid.screenToPhoto);
    int ahead = 0;
    for (const cv::Point2f& p : piece.outline) ahead += back(2, 0) * p.x + back(2, 1) * p.y + back(2, 2) > 0 ? 1 : 0;
    const bool oneSide = ahead == 0 || ahead == static_cast<int>(piece.outline.size());
    return oneSide && grid.lastU - grid.firstU <= layout.height + kExtentSlack;
}

// The u extent of the piece where it crosses the ruler's columns: a slanted band spans
// many more lines across the screen than across the ruler, and the marks are measured
// where the ruler is.
std::pair<double, double> RulerExtent(const Piece& piece, const cv::Matx33d& screenToPhoto, const ScreenLayout& layout) {
    const cv::Matx33d back = Inverse(screenToPhoto);
    std::vector<cv::Point2d> outline;
    for (const cv::Point2f& p : piece.outline) outline.push_back(Apply(back, {p.x, p.y}));
    const double from = layout.rulerLeft, to = layout.rulerLeft + kRulerWidth;
    double first = INFINITY, last = -INFINITY;
    auto take = [&](double u) { first = std::min(first, u), last = std::max(last, u); };
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const cv::Point2d a = outline[i], b = outline[(i + 1) % outline.size()];
        if (a.x >= from && a.x <= to) take(a.y);
        for (double x : {from, to})
            if ((a.x - x) * (b.x - x) < 0) take(a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x));
    }
    if (first > last) return LineExtent(piece, screenToPhoto);
    return {first, last};
}

// Lines down per column of a long piece that slants across the lines, as the grid maps its
// long axis; 0 for one that does not (a level band, or the whole screen).
double SlopeOf(const Piece& piece, const cv::Matx33d& screenToPhoto) {
    if (!piece.Elongated()) return 0;
    const auto [from, to] = piece.LongAxisEnds();
    const cv::Matx33d back = Inverse(screenToPhoto);
    const cv::Point2d p = Apply(back, from), q = Apply(back, to);
    if (std::abs(q.x - p.x) < 1) return 0;
    const double slope = (q.y - p.y) / (q.x - p.x);
    return std::abs(slope) < kLeastSlope || std::abs(slope) > kSteepestSlope ? 0 : slope;
}

}  // namespace

std::pair<double, double> LineExtent(const Piece& piece, const cv::Matx33d& screenToPhoto) {
    const cv::Matx33d back = Inverse(screenToPhoto);
    double first = 1e9, last = -1e9;
    for (const cv::Point2f& p : piece.outline) {
        const double u = Apply(back, {p.x, p.y}).y;
        first = std::min(first, u), last = std::max(last, u);
    }
    return {first, last};
}

std::optional<Grid> FitGrid(const cv::Mat1b& sharp, const Piece& piece, const RoughGrid& rough,
                            const ScreenLayout& layout) {
    Grid grid;
    grid.screenToPhoto = rough.screenToPhoto;
    std::vector<Constraint> kept;
    for (int round = 0; round < kRounds; ++round) {
        const auto [first, last] = RulerExtent(piece, grid.screenToPhoto, layout);
        const double slope = SlopeOf(piece, grid.screenToPhoto);
        const int measurements = round + 1 < kRounds ? kFirstMeasurements : kMeasurements;
        std::vector<PhaseTrack> tenths = MarkTracks(sharp, grid.screenToPhoto, layout, kTenths, first, last, measurements, slope);
        // A piece too short to hold enough of the tenths' ticks for their pitch: the fifths'
        // ticks join them.
        const bool fewTenths = (last - first - kTenths.span) / kTenths.period + 1 < kFewestSpans;
        std::vector<PhaseTrack> fifths;
        if (fewTenths) fifths = MarkTracks(sharp, grid.screenToPhoto, layout, kFifths, first, last, measurements, slope);
        std::vector<PhaseTrack> stripes = MarkTracks(sharp, grid.screenToPhoto, layout, kStripes, first, last, measurements, slope);
        grid.modulation = Modulation(stripes);
        std::vector<Constraint> lines;
        // Seen twice, along one track or across them: a band too short to hold two of the
        // ticks whole shows one on every track, the fifths' ticks keeping the pitch.
        std::size_t seen = 0;
        for (const PhaseTrack& t : tenths) seen += t.points.size();
        const bool tenthsSeen = seen >= 2;
        if (tenthsSeen) {
            AlignToCoarse(fifths, tenths, kFifths.period);
            AlignToCoarse(stripes, tenths, kStripes.period);
            AddConstraints(tenths, lines);
            AddConstraints(fifths, lines);
        }
        if (grid.modulation >= kFaintestStripes) AddConstraints(stripes, lines);
        grid.period = tenthsSeen ? kTenths.period : kStripes.period;
        std::vector<Constraint> all = lines;
        const std::vector<Constraint> edges = EdgeConstraints(sharp, grid.screenToPhoto, layout, first, last, measurements, slope);
        all.insert(all.end(), edges.begin(), edges.end());
        const bool oneSided = OneSided(edges, layout);
        // The first guess, rough, is no grid to move single tracks or values onto.
        SnapTracks(all, grid.screenToPhoto, oneSided, layout, first, last, round > 0);
        auto solved = Solve(all, grid.screenToPhoto, oneSided, layout, first, last);
        if (!solved) return std::nullopt;
        // A label's black row in a stripe band, or a phase unwrapped onto the wrong
        // period, stands out from the fit: it goes, and the rest is solved again.
        all = WithoutOutliers(all, *solved);
        if (auto again = Solve(all, grid.screenToPhoto, oneSided, layout, first, last)) solved = again;
        grid.screenToPhoto = *solved;
        kept = all;
    }
    std::tie(grid.firstU, grid.lastU) = LineExtent(piece, grid.screenToPhoto);
    if (!FitsTheScreen(piece, grid, layout)) return std::nullopt;
    // Of the marks the grid was fitted to: the values that stray (a band's edge across a
    // track biases its phases) were left out of it.
    grid.stripeResidual = StripeResidual(kept, grid.screenToPhoto);
    return grid;
}

}  // namespace velmaro::photo
