#include "photo/read/slit.h"

#include <algorithm>
#include <cmath>

#include "photo/model/geometry.h"
#include "photo/model/timing.h"
#include "photo/read/robust.h"

namespace velmaro::photo {

namespace {

constexpr int kFewestEdges = 4;       // of each kind, for a line through them
constexpr double kOutlier = 3;        // robust spreads beyond which an edge is left out
constexpr double kLeastSpread = 0.5;  // lines: the spread taken at least, however well edges agree
constexpr double kPassSlack = 2;      // lines beyond its passes' refreshes that a slit's exposure may seem to reach

struct Edge {
    double place;  // along the travel's axis, photo pixels
    double time;   // scan time, line periods
};

struct Line {
    double at = 0, slope = 0, error = 0;  // error: the line's standard error at `middle`
    double spread = 0;                    // of the edges kept about it, lines
    double kept = 1;                      // share of the edges kept
};

// Least squares through the edges, again without those far off it.
std::optional<Line> FitLine(std::vector<Edge> edges, double middle) {
    Line line;
    const double all = static_cast<double>(edges.size());
    for (int round = 0; round < 3; ++round) {
        if (static_cast<int>(edges.size()) < kFewestEdges) return std::nullopt;
        double n = 0, sp = 0, st = 0, spp = 0, spt = 0;
        for (const Edge& e : edges) n += 1, sp += e.place, st += e.time, spp += e.place * e.place, spt += e.place * e.time;
        const double d = n * spp - sp * sp;
        line.slope = d > 1e-9 ? (n * spt - sp * st) / d : 0;
        line.at = (st - line.slope * sp) / n;
        std::vector<double> residuals;
        for (const Edge& e : edges) residuals.push_back(e.time - line.at - line.slope * e.place);
        const double spread = std::max(RobustSpread(residuals), kLeastSpread);
        const double mean = sp / n, spread2 = spp / n - mean * mean;
        line.error = spread * std::sqrt(1 / n + (middle - mean) * (middle - mean) / std::max(n * spread2, 1e-9));
        line.spread = spread, line.kept = n / all;
        std::vector<Edge> kept;
        for (std::size_t i = 0; i < edges.size(); ++i)
            if (std::abs(residuals[i]) <= kOutlier * spread) kept.push_back(edges[i]);
        if (kept.size() == edges.size()) break;
        edges = kept;
    }
    return line;
}

// Scan times are known modulo a refresh: each is moved by whole refreshes to lie nearest
// the line through those before it, along the axis.
void Unwrap(std::vector<Edge>& edges, double vtotal) {
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.place < b.place; });
    for (std::size_t i = 1; i < edges.size(); ++i) {
        double predicted = edges[i - 1].time;
        if (i >= 3) {
            const std::vector<Edge> before(edges.begin() + static_cast<std::ptrdiff_t>(i >= 8 ? i - 8 : 0),
                                           edges.begin() + static_cast<std::ptrdiff_t>(i));
            if (const auto line = FitLine(before, edges[i].place)) predicted = line->at + line->slope * edges[i].place;
        }
        edges[i].time += vtotal * std::round((predicted - edges[i].time) / vtotal);
    }
}

}  // namespace

std::optional<SlitTravel> FitSlit(const Band& band, const ScreenView& view, cv::Size photo, int width, double vtotal,
                                  int passes) {
    if (view.grids.empty()) return std::nullopt;
    const PlacedGrid& middleGrid = view.For((view.grids[0].firstU + view.grids[0].lastU) / 2);
    const double u0 = (middleGrid.firstU + middleGrid.lastU) / 2;
    const cv::Point2d along = Apply(middleGrid.screenToPhoto, {width / 2.0 + 10, u0}) - Apply(middleGrid.screenToPhoto, {width / 2.0, u0});
    SlitTravel travel;
    travel.alongPhotoX = std::abs(along.x) >= std::abs(along.y);
    travel.length = travel.alongPhotoX ? photo.width : photo.height;

    std::vector<Edge> opens, closes;
    std::vector<std::pair<double, double>> lengths;  // place, and the length between a group's own edges
    for (const GroupEdges& g : band.groups) {
        auto edge = [&](double u) {
            const cv::Point2d p = Apply(view.For(u).screenToPhoto, {g.column, u});
            return Edge{travel.alongPhotoX ? p.x : p.y, u + kActiveLineShare * g.column / width};
        };
        if (g.start) opens.push_back(edge(*g.start));
        if (g.end) closes.push_back(edge(*g.end));
        if (g.start && g.end) {
            double length = *g.end - *g.start;
            if (length < 0) length += vtotal;
            lengths.emplace_back(edge(*g.start).place, length);
        }
    }
    Unwrap(opens, vtotal);
    Unwrap(closes, vtotal);
    const double middle = travel.length / 2;
    const auto open = FitLine(opens, middle), close = FitLine(closes, middle);
    if (!open || !close) return std::nullopt;
    travel.openAt = open->at, travel.openSlope = open->slope, travel.openError = open->error;
    travel.closeAt = close->at, travel.closeSlope = close->slope, travel.closeError = close->error;
    // The two lines were unwrapped apart: the closing lies a part of a refresh after the
    // opening where a group shows both (or at the middle), and whole refreshes more.
    std::vector<double> shifts;
    for (const auto& [place, length] : lengths) shifts.push_back(length - travel.Exposure(place));
    if (shifts.empty()) {
        const double part = travel.Exposure(middle);
        shifts.push_back(part - vtotal * std::floor(part / vtotal) - part);
    }
    travel.closeAt += vtotal * std::round(Median(shifts) / vtotal) + passes * vtotal;
    // Lines lit once more than the rest, m + 1 times, span the exposure less m refreshes: a
    // slant steeper than a refresh across the screen may pair one lit stretch's opening
    // with the next one's closing, which no exposure of m passes can show.
    const double beyond = travel.Exposure(middle) - passes * vtotal;
    if (beyond < -kPassSlack || beyond > vtotal + kPassSlack) return std::nullopt;
    travel.kept = std::min(open->kept, close->kept);
    travel.spread = std::max(open->spread, close->spread);
    travel.points = static_cast<int>(opens.size() + closes.size());
    return travel;
}

}  // namespace velmaro::photo
