#include "photo/read/grid.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "photo/model/geometry.h"
#include "photo/read/robust.h"
#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr int kRounds = 3;
constexpr int kMeasurements = 120;  // stripe phases along a band at most; more lines spread them out
// Stripe columns of the ruler whose even lines are black (left and right bands), with a
// column kept clear of each border.
constexpr int kStripeColumns[2][2] = {{kStripeFirst + 2, kStripeLast - 1},
                                      {Mirrored(kStripeLast) + 2, Mirrored(kStripeFirst) - 1}};
constexpr double kStripeStep = 2;   // lines between stripe measurements
constexpr double kStripeSpan = 4;   // lines that one measurement spans (two periods)
constexpr double kEdgeStep = 4;     // lines between edge-strip measurements
constexpr double kPerspectivePrior = 0.02;
constexpr double kStripeWeight = 1;  // a stripe phase fixes u to some hundredths of a line
constexpr double kEdgeWeight = 0.3;  // an edge strip fixes X to some tenths of a column
constexpr double kExtentSlack = 16;  // lines beyond the screen's height that a piece's blurred outline may reach

struct Constraint {
    cv::Point2d photo;
    double value;   // the true column X or line coordinate u at that photo point
    bool line;      // u (true) or X (false)
};

// The stripe phase (a correction of u, wrapped to two lines) along one group of stripe
// columns, unwrapped from line to line.
struct PhaseTrack {
    double column;  // screen column of the group's middle
    std::vector<Constraint> points;
    std::vector<double> deltas;
    std::vector<std::pair<double, double>> levels;  // mean level and modulation of every place measured
};

PhaseTrack TrackPhase(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout, int firstColumn,
                      int lastColumn, double firstU, double lastU) {
    PhaseTrack track;
    track.column = layout.rulerLeft + (firstColumn + lastColumn + 1) / 2.0;
    const double step = std::max(kStripeStep, 2 * std::ceil((lastU - firstU) / kMeasurements / 2));
    for (double centre = firstU + kStripeSpan / 2; centre <= lastU - kStripeSpan / 2; centre += step) {
        std::complex<double> sum = 0;
        double level = 0;
        int count = 0;
        for (double u = centre - kStripeSpan / 2 + 0.125; u < centre + kStripeSpan / 2; u += 0.25) {
            const std::complex<double> turn = std::polar(1.0, -CV_PI * (u - 0.5));
            for (int x = firstColumn; x <= lastColumn; ++x) {
                const double v = SampleAt(sharp, Apply(h, {layout.rulerLeft + x + 0.5, u}));
                if (std::isnan(v)) continue;
                sum += v * turn;
                level += v;
                ++count;
            }
        }
        if (count == 0) continue;
        const double amplitude = 2 * std::abs(sum) / count, mean = level / count;
        track.levels.emplace_back(mean, mean > 0 ? amplitude / mean : 0);
        // White lines over black ones: the fundamental is about 0.64 of the mean, less
        // what blur takes.
        if (mean <= 0 || amplitude < 0.04 * mean) continue;
        track.points.push_back({Apply(h, {track.column, centre}), centre, true});
        track.deltas.push_back(std::arg(sum) / CV_PI);
    }
    for (std::size_t i = 1; i < track.deltas.size(); ++i) {
        while (track.deltas[i] - track.deltas[i - 1] > 1) track.deltas[i] -= 2;
        while (track.deltas[i] - track.deltas[i - 1] < -1) track.deltas[i] += 2;
    }
    return track;
}

// Median of how far b's phases lie above a's, predicted to differ by `expected`, on the
// lines both have; nullopt when they share none.
std::optional<double> MedianGap(const PhaseTrack& a, const PhaseTrack& b, double expected) {
    std::vector<double> gaps;
    std::size_t j = 0;
    for (std::size_t i = 0; i < b.points.size(); ++i) {
        while (j < a.points.size() && a.points[j].value < b.points[i].value - 0.01) ++j;
        if (j < a.points.size() && std::abs(a.points[j].value - b.points[i].value) < 0.01)
            gaps.push_back(b.deltas[i] - a.deltas[j] - expected);
    }
    if (gaps.empty()) return std::nullopt;
    return Median(gaps);
}

// Shifts b's phases by whole periods (two lines) to lie nearest a's plus `expected`.
void AlignTrack(const PhaseTrack& a, PhaseTrack& b, double expected) {
    std::optional<double> gap = MedianGap(a, b, expected);
    if (!gap && !a.deltas.empty() && !b.deltas.empty()) gap = b.deltas.front() - a.deltas.back() - expected;
    if (!gap) return;
    const double shift = -2 * std::round(*gap / 2);
    for (double& d : b.deltas) d += shift;
}

// Phases of the line stripes, as corrections of u, along both stripe bands. Each band is
// read in two halves: the phase's change from one half to the next gives the grid's
// tilt, which then decides how the far band's phases unwrap against the near one's.
std::vector<Constraint> StripeConstraints(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout,
                                          double firstU, double lastU, double& modulation) {
    std::vector<PhaseTrack> tracks;
    for (const auto& band : kStripeColumns) {
        const int middle = (band[0] + band[1]) / 2;
        tracks.push_back(TrackPhase(sharp, h, layout, band[0], middle, firstU, lastU));
        tracks.push_back(TrackPhase(sharp, h, layout, middle + 1, band[1], firstU, lastU));
    }
    std::vector<double> tilts;  // lines of phase per column
    for (int band = 0; band < 2; ++band) {
        PhaseTrack &a = tracks[2 * band], &b = tracks[2 * band + 1];
        AlignTrack(a, b, 0);
        if (auto gap = MedianGap(a, b, 0)) tilts.push_back(*gap / (b.column - a.column));
    }
    double tilt = 0;
    for (double t : tilts) tilt += t / tilts.size();
    for (int i = 2; i < 4; ++i) AlignTrack(tracks[0], tracks[i], tilt * (tracks[i].column - tracks[0].column));
    // How much of the stripes' contrast the photo kept, where the screen is lit (noise
    // alone passes the test above now and then, so every lit place counts here).
    double brightest = 0;
    for (const PhaseTrack& track : tracks)
        for (const auto& [mean, m] : track.levels) brightest = std::max(brightest, mean);
    std::vector<double> kept;
    for (const PhaseTrack& track : tracks)
        for (const auto& [mean, m] : track.levels)
            if (mean > 0.5 * brightest) kept.push_back(m);
    modulation = kept.empty() ? 0 : Median(kept);
    std::vector<Constraint> constraints;
    for (PhaseTrack& track : tracks) {
        for (std::size_t i = 0; i < track.points.size(); ++i) {
            track.points[i].value += track.deltas[i];
            constraints.push_back(track.points[i]);
        }
    }
    return constraints;
}

// The middles of the ruler's black edge strips, by the centroid of their darkness.
std::vector<Constraint> EdgeConstraints(const cv::Mat1b& sharp, const cv::Matx33d& h, const ScreenLayout& layout,
                                        double firstU, double lastU) {
    std::vector<Constraint> constraints;
    const double windows[2][2] = {{-4, 9}, {kRulerWidth - 10, kRulerWidth + 3}};
    const double middles[2] = {kEdgeStripMiddle, kRulerWidth - kEdgeStripMiddle};
    for (int side = 0; side < 2; ++side) {
        const double step = std::max(kEdgeStep, (lastU - firstU) / kMeasurements);
        for (double centre = firstU + 1; centre <= lastU - 1; centre += step) {
            std::vector<double> xs, values;
            for (double x = windows[side][0]; x <= windows[side][1]; x += 0.25) {
                double sum = 0;
                int count = 0;
                for (double u = centre - 0.75; u <= centre + 0.8; u += 0.5) {
                    const double v = SampleAt(sharp, Apply(h, {layout.rulerLeft + x, u}));
                    if (!std::isnan(v)) sum += v, ++count;
                }
                if (count < 4) break;
                xs.push_back(x);
                values.push_back(sum / count);
            }
            if (xs.size() < 40) continue;
            const double white = *std::max_element(values.begin(), values.end());
            const double black = *std::min_element(values.begin(), values.end());
            if (white <= 0 || black > 0.4 * white) continue;
            double weight = 0, moment = 0;
            for (std::size_t i = 0; i < xs.size(); ++i) {
                const double darkness = std::max(0.0, (white - values[i]) - 0.3 * (white - black));
                weight += darkness;
                moment += darkness * xs[i];
            }
            if (weight <= 0) continue;
            const double found = moment / weight;
            constraints.push_back({Apply(h, {layout.rulerLeft + found, centre}), layout.rulerLeft + middles[side],
                                   false});
        }
    }
    return constraints;
}

// The homography that best meets the constraints (one coordinate each), by the linear
// method in normalised photo coordinates, held weakly to the current perspective.
std::optional<cv::Matx33d> Solve(const std::vector<Constraint>& constraints, const cv::Matx33d& current) {
    int lines = 0, columns = 0;
    cv::Point2d centre(0, 0);
    for (const Constraint& c : constraints) (c.line ? lines : columns)++, centre += c.photo;
    if (lines < 6 || columns < 4) return std::nullopt;
    centre /= static_cast<double>(constraints.size());
    double spread = 0;
    for (const Constraint& c : constraints) spread += cv::norm(c.photo - centre);
    spread = std::max(1.0, spread / constraints.size());
    const cv::Matx33d normalise(1 / spread, 0, -centre.x / spread, 0, 1 / spread, -centre.y / spread, 0, 0, 1);

    // The current grid, photo (normalised) to screen, gives the prior's perspective.
    cv::Matx33d prior = Inverse(current) * normalise.inv();
    prior *= 1 / prior(2, 2);
    cv::Mat1d a(static_cast<int>(constraints.size()) + 2, 8, 0.0), b(a.rows, 1, 0.0);
    int row = 0;
    for (const Constraint& c : constraints) {
        const cv::Point2d p = Apply(normalise, c.photo);
        const int offset = c.line ? 3 : 0;
        const double weight = c.line ? kStripeWeight : kEdgeWeight;
        a(row, offset + 0) = weight * p.x;
        a(row, offset + 1) = weight * p.y;
        a(row, offset + 2) = weight;
        a(row, 6) = -weight * c.value * p.x;
        a(row, 7) = -weight * c.value * p.y;
        b(row, 0) = weight * c.value;
        ++row;
    }
    const double hold = kPerspectivePrior * std::sqrt(static_cast<double>(constraints.size()));
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
    std::vector<Constraint> stripes;
    for (int round = 0; round < kRounds; ++round) {
        const auto [first, last] = LineExtent(piece, grid.screenToPhoto);
        stripes = StripeConstraints(sharp, grid.screenToPhoto, layout, first, last, grid.modulation);
        std::vector<Constraint> all = stripes;
        const std::vector<Constraint> edges = EdgeConstraints(sharp, grid.screenToPhoto, layout, first, last);
        all.insert(all.end(), edges.begin(), edges.end());
        auto solved = Solve(all, grid.screenToPhoto);
        if (!solved) return std::nullopt;
        // A label's black row in a stripe band, or a phase unwrapped onto the wrong
        // period, stands out from the fit: it goes, and the rest is solved again.
        all = WithoutOutliers(all, *solved);
        if (auto again = Solve(all, grid.screenToPhoto)) solved = again;
        grid.screenToPhoto = *solved;
    }
    std::tie(grid.firstU, grid.lastU) = LineExtent(piece, grid.screenToPhoto);
    if (!FitsTheScreen(piece, grid, layout)) return std::nullopt;
    grid.stripeResidual = StripeResidual(stripes, grid.screenToPhoto);
    return grid;
}

}  // namespace velmaro::photo
