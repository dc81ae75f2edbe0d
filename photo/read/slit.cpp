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
constexpr double kNeighbours = 40;    // columns apart, at most, of groups whose edges show the band's drift
constexpr std::size_t kCarried = 4;   // edges before one whose lines, carried on, place it
// Lines at the screen's top and bottom where a group's edge may be the screen's own: blur
// dims its first and last lines, and far from the ruler the grid may place them some lines
// off. A steep band's edge, moving across the group's own columns, reaches further.
constexpr double kScreenEnds = 12;
constexpr double kTrendReach = 0.1;  // of the travel's length, that groups showing both edges must span for a trend

struct Edge {
    double column;  // screen column of the group that shows it
    double u;       // line coordinate there
    double place;   // along the travel's axis, photo pixels
    double time;    // scan time, line periods
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

// A difference of scan times, which are known modulo a refresh, as the nearest to 0.
double Wrapped(double difference, double vtotal) { return difference - vtotal * std::round(difference / vtotal); }

// How an edge moves from one group of columns to the next, where it cannot have moved by
// half a refresh: scan time per photo pixel along the travel; and the columns between
// neighbouring groups.
struct Drift {
    double perPlace = 0, columns = 0;
};

Drift DriftOf(const std::vector<std::vector<Edge>>& kinds, double vtotal) {
    std::vector<double> perPlace, columns;
    for (std::vector<Edge> edges : kinds) {
        std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.column < b.column; });
        for (std::size_t i = 1; i < edges.size(); ++i) {
            const Edge &a = edges[i - 1], &b = edges[i];
            const double apart = b.column - a.column;
            if (apart <= 0 || apart > kNeighbours || std::abs(b.place - a.place) < 1) continue;
            perPlace.push_back(Wrapped(b.time - a.time, vtotal) / (b.place - a.place));
            columns.push_back(apart);
        }
    }
    if (perPlace.empty()) return {};
    return {Median(perPlace), Median(columns)};
}

// Scan times are known modulo a refresh: each is moved by whole refreshes to lie nearest
// where the edges before it, along the axis, carry on to it at the drift between
// neighbours. Across the ruler and the bars, where no group is read, a steep band moves by
// more than half a refresh: only the drift tells how far.
void Unwrap(std::vector<Edge>& edges, double vtotal, double drift) {
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.place < b.place; });
    for (std::size_t i = 1; i < edges.size(); ++i) {
        std::vector<double> predicted;
        for (std::size_t k = i > kCarried ? i - kCarried : 0; k < i; ++k)
            predicted.push_back(edges[k].time + drift * (edges[i].place - edges[k].place));
        edges[i].time += vtotal * std::round((Median(predicted) - edges[i].time) / vtotal);
    }
}

// The line through one curtain's edges, those clear of the screen's ends first; an edge
// among them joins where it falls on that line. All of them where too few are clear. The
// edges come back unwrapped, those used.
template <typename NearEnd>
std::optional<Line> FitClear(std::vector<Edge>& edges, NearEnd nearEnd, double vtotal, double drift, double middle) {
    std::vector<Edge> clear, doubtful;
    for (const Edge& e : edges) (nearEnd(e.u) ? doubtful : clear).push_back(e);
    if (static_cast<int>(clear.size()) < kFewestEdges) clear = edges, doubtful.clear();
    Unwrap(clear, vtotal, drift);
    auto line = FitLine(clear, middle);
    if (!line) return std::nullopt;
    std::size_t joined = 0;
    for (Edge e : doubtful) {
        const double predicted = line->at + line->slope * e.place;
        e.time += vtotal * std::round((predicted - e.time) / vtotal);
        if (std::abs(e.time - predicted) <= kOutlier * line->spread) clear.push_back(e), ++joined;
    }
    if (joined > 0) {
        const double kept = line->kept;
        if (auto again = FitLine(clear, middle)) line = again, line->kept = std::min(kept, line->kept);
    }
    edges = clear;
    return line;
}

}  // namespace

double LinesPerColumn(const Band& band, double vtotal) {
    std::vector<double> drifts;
    for (std::size_t i = 1; i < band.groups.size(); ++i) {
        const GroupEdges &a = band.groups[i - 1], &b = band.groups[i];
        const double apart = b.column - a.column;
        if (apart <= 0 || apart > kNeighbours) continue;
        for (auto edge : {&GroupEdges::start, &GroupEdges::end})
            if (a.*edge && b.*edge) drifts.push_back(Wrapped(*(b.*edge) - *(a.*edge), vtotal) / apart);
    }
    return drifts.empty() ? 0 : Median(drifts);
}

std::optional<SlitTravel> FitSlit(const Band& band, const ScreenView& view, cv::Size photo, int width, double vtotal,
                                  int passes) {
    if (view.grids.empty()) return std::nullopt;
    const PlacedGrid& middleGrid = view.For((view.grids[0].firstU + view.grids[0].lastU) / 2);
    const double u0 = (middleGrid.firstU + middleGrid.lastU) / 2;
    const cv::Point2d along = Apply(middleGrid.screenToPhoto, {width / 2.0 + 10, u0}) - Apply(middleGrid.screenToPhoto, {width / 2.0, u0});
    SlitTravel travel;
    travel.alongPhotoX = std::abs(along.x) >= std::abs(along.y);
    travel.length = travel.alongPhotoX ? photo.width : photo.height;

    auto edgeAt = [&](const GroupEdges& g, double u) {
        const cv::Point2d p = Apply(view.For(u).screenToPhoto, {g.column, u});
        return Edge{g.column, u, travel.alongPhotoX ? p.x : p.y, u + kActiveLineShare * g.column / width};
    };
    std::vector<Edge> opens, closes;
    for (const GroupEdges& g : band.groups) {
        if (g.start) opens.push_back(edgeAt(g, *g.start));
        if (g.end) closes.push_back(edgeAt(g, *g.end));
    }
    const Drift drift = DriftOf({opens, closes}, vtotal);
    // An edge among the screen's first or last lines may be the screen's own: the band
    // then goes on through the blanking. The edges clear of them carry the lines, and one
    // of those is kept only where it falls on them.
    const double clear = kScreenEnds + std::abs(LinesPerColumn(band, vtotal)) * drift.columns / 2;
    auto nearEnd = [&](double u) { return u < band.top + clear || u > band.bottom - clear; };
    const double middle = travel.length / 2;
    const auto open = FitClear(opens, nearEnd, vtotal, drift.perPlace, middle);
    const auto close = FitClear(closes, nearEnd, vtotal, drift.perPlace, middle);
    if (!open || !close) return std::nullopt;
    // Groups that show both edges, those clear of the screen's ends first.
    std::vector<std::pair<Edge, Edge>> pairs[2];
    for (const GroupEdges& g : band.groups)
        if (g.start && g.end) pairs[nearEnd(*g.start) || nearEnd(*g.end) ? 1 : 0].push_back({edgeAt(g, *g.start), edgeAt(g, *g.end)});
    travel.openAt = open->at, travel.openSlope = open->slope, travel.openError = open->error;
    travel.closeAt = close->at, travel.closeSlope = close->slope, travel.closeError = close->error;
    // The two lines were unwrapped apart: where a group shows both edges, its closing lies
    // a part of a refresh after its opening (or at the middle), and whole refreshes more.
    // Each edge is held against its own line at its own place: a slit that runs a little
    // along the scan moves the closing's place from the opening's.
    const auto& shown = pairs[pairs[0].empty() ? 1 : 0];
    std::vector<double> shifts;
    for (const auto& [o, c] : shown) {
        const double length = c.time - o.time + (c.time < o.time ? vtotal : 0);
        shifts.push_back(length - (travel.closeAt + travel.closeSlope * c.place - travel.openAt - travel.openSlope * o.place));
    }
    if (shifts.empty()) {
        const double part = travel.Exposure(middle);
        shifts.push_back(part - vtotal * std::floor(part / vtotal) - part);
    }
    const double wholes = vtotal * std::round(Median(shifts) / vtotal);
    travel.closeAt += wholes + passes * vtotal;
    // A group's own two edges share the grid's error near them; the two lines, from edges
    // far apart on the screen, carry it where it differs. Held against the lines, the
    // groups' exposures, carried along their own trend to the travel's middle, show how far
    // the lines may be off there.
    std::vector<Edge> off;
    for (std::size_t k = 0; k < (pairs[0].empty() ? 0 : shifts.size()); ++k)
        off.push_back({0, 0, shown[k].first.place, shifts[k] - wholes});
    if (!off.empty()) {
        const auto [low, high] = std::minmax_element(off.begin(), off.end(), [](const Edge& a, const Edge& b) { return a.place < b.place; });
        const auto trend = high->place - low->place >= kTrendReach * travel.length ? FitLine(off, middle) : std::nullopt;
        std::vector<double> values;
        for (const Edge& e : off) values.push_back(e.time);
        travel.pairsOff = trend ? trend->at + trend->slope * middle : Median(values);
    }
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
