#include "photo/read/view.h"

#include <algorithm>
#include <cmath>

#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

constexpr int kGroupColumns = 16;     // columns of the background in a group, at least
constexpr int kClearOfEdges = 6;      // columns kept clear of the screen's sides and the bars

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

    for (int bar = 1; bar <= kBars; ++bar) {
        for (int side : {-1, +1}) {
            const int first = layout.BarColumn(side, bar);
            AddRange(c.bars[bar - 1], first + 1, first + 3, layout);
            // The white gap on the ruler's side of this bar.
            const int gap = side < 0 ? first + kBarWidth + 1 : first - kBarWidth + 1;
            AddRange(c.barWhite, gap, gap + 2, layout);
        }
    }
    AddRange(c.black, left + 1, left + kEdgeStripLast - 1, layout);
    AddRange(c.black, left + Mirrored(kEdgeStripLast - 1), left + Mirrored(1), layout);
    return c;
}

}  // namespace velmaro::photo
