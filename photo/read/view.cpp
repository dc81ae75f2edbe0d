#include "photo/read/view.h"

#include <algorithm>
#include <cmath>

#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr int kGroupColumns = 16;     // columns of the background in a group, at least
constexpr int kClearOfEdges = 6;      // columns kept clear of the screen's sides and the bars
constexpr int kBackgroundClear = 4;   // columns of the background beside the outermost bar that its blur darkens
constexpr int kBackgroundColumns = 6; // columns of the background beyond those, for the white outside the bars
constexpr int kStripesClear = 2;      // columns at each end of the line stripes that the white or ticks beside them blur

void AddRange(std::vector<double>& columns, int first, int last, const ScreenLayout& layout) {
    for (int x = std::max(first, 0); x <= std::min(last, layout.drawnWidth - 1); ++x) columns.push_back(x + 0.5);
}

}  // namespace

const PlacedGrid& ScreenView::For(double u) const {
    const PlacedGrid* best = &grids.front();
    double distance = INFINITY;
    for (const PlacedGrid& g : grids) {
        const double d = u < g.firstU ? g.firstU - u : u > g.lastU ? u - g.lastU : 0;
        if (d < distance) distance = d, best = &g;
    }
    return *best;
}

cv::Mat1f SampleView(const cv::Mat1b& sharp, const ScreenView& view, const std::vector<double>& columns,
                     const std::vector<double>& lines) {
    cv::Mat1f out(static_cast<int>(lines.size()), static_cast<int>(columns.size()));
    if (view.grids.size() == 1) return SampleScreen(sharp, view.grids[0].screenToPhoto, columns, lines);
    for (std::size_t j = 0; j < lines.size(); ++j)
        SampleScreen(sharp, view.For(lines[j]).screenToPhoto, columns, {lines[j]}).copyTo(out.row(static_cast<int>(j)));
    return out;
}

Columns ColumnsFor(const ScreenLayout& layout) {
    Columns c;
    const int left = layout.rulerLeft;
    const int outerLeft = layout.BarColumn(-1, kBars) - kClearOfEdges;
    const int outerRight = layout.BarColumn(+1, kBars) + kBarWidth + kClearOfEdges;
    // Background beside the bars, in narrow groups, so that edges can be followed across
    // however steeply a slit's travel slants them.
    for (auto [from, to] : {std::pair{kClearOfEdges, outerLeft}, std::pair{outerRight, layout.drawnWidth - 1 - kClearOfEdges}}) {
        const int groups = (to - from + 1) / kGroupColumns;
        for (int g = 0; g < groups; ++g) {
            std::vector<double> group;
            AddRange(group, from + (to - from + 1) * g / groups, from + (to - from + 1) * (g + 1) / groups - 1, layout);
            if (!group.empty()) c.whiteGroups.push_back(group);
        }
    }
    // The ruler's white margins inside its edge strips.
    std::vector<double> margin;
    AddRange(margin, left + kMarginFirst, left + kMarginLast, layout);
    c.whiteGroups.push_back(margin);
    margin.clear();
    AddRange(margin, left + Mirrored(kMarginLast), left + Mirrored(kMarginFirst), layout);
    c.whiteGroups.push_back(margin);
    std::sort(c.whiteGroups.begin(), c.whiteGroups.end(), [](const auto& a, const auto& b) { return a.front() < b.front(); });
    c.whiteGroups.erase(std::remove_if(c.whiteGroups.begin(), c.whiteGroups.end(), [](const auto& g) { return g.empty(); }),
                        c.whiteGroups.end());

    for (int i = 0; i < 2; ++i) {
        BarSide& side = c.barSides[i];
        const int direction = i == 0 ? -1 : +1;
        for (int bar = 1; bar <= kBars; ++bar) {
            const int first = layout.BarColumn(direction, bar);
            AddRange(side.bars[bar - 1], first + 1, first + kBarWidth - 2, layout);
        }
        // The strip's middle, as far from its edges as a bar's; the margin's and the
        // background's, clear of the blur of what lies beside them.
        const int strip[2] = {1, kEdgeStripLast - 1}, margin[2] = {kMarginFirst + 2, kMarginLast - 2};
        const int outermost = layout.BarColumn(direction, kBars);
        const int stripes[2] = {kStripeFirst + kStripesClear, kStripeLast - kStripesClear};
        if (i == 0) AddRange(side.stripes, left + stripes[0], left + stripes[1], layout);
        else AddRange(side.stripes, left + Mirrored(stripes[1]), left + Mirrored(stripes[0]), layout);
        if (i == 0) {
            AddRange(side.black, left + strip[0], left + strip[1], layout);
            AddRange(side.inner, left + margin[0], left + margin[1], layout);
            AddRange(side.outer, outermost - kBackgroundClear - kBackgroundColumns, outermost - kBackgroundClear - 1, layout);
        } else {
            AddRange(side.black, left + Mirrored(strip[1]), left + Mirrored(strip[0]), layout);
            AddRange(side.inner, left + Mirrored(margin[1]), left + Mirrored(margin[0]), layout);
            const int beyond = outermost + kBarWidth + kBackgroundClear;
            AddRange(side.outer, beyond, beyond + kBackgroundColumns - 1, layout);
        }
        c.black.insert(c.black.end(), side.black.begin(), side.black.end());
    }
    return c;
}

}  // namespace velmaro::photo
