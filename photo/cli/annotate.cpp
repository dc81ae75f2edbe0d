#include "photo/cli/annotate.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <string>

#include "photo/cli/report.h"
#include "photo/model/geometry.h"
#include "photo/model/pictures.h"

namespace velmaro::photo {

namespace {

const cv::Scalar kPieceColour(0, 200, 255), kRulerColour(255, 160, 0), kEdgeColour(0, 0, 255), kTextColour(0, 255, 0);

cv::Point ToPixel(cv::Point2d p) { return {static_cast<int>(std::lround(p.x - 0.5)), static_cast<int>(std::lround(p.y - 0.5))}; }

void Label(cv::Mat& image, const std::string& text, cv::Point at, double scale, const cv::Scalar& colour) {
    const int thickness = std::max(1, static_cast<int>(scale * 2));
    cv::putText(image, text, at, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(0, 0, 0), thickness + 2 * std::max(1, thickness / 2), cv::LINE_AA);
    cv::putText(image, text, at, cv::FONT_HERSHEY_SIMPLEX, scale, colour, thickness, cv::LINE_AA);
}

// A line across the screen at line coordinate u (at the middle column) with a slope.
void EdgeLine(cv::Mat& image, const cv::Matx33d& grid, double u, double slope, int width, int thickness) {
    const double middle = width / 2.0;
    const cv::Point2d left = Apply(grid, {0, u - slope * middle}), right = Apply(grid, {static_cast<double>(width), u + slope * middle});
    cv::line(image, ToPixel(left), ToPixel(right), kEdgeColour, thickness, cv::LINE_AA);
}

// A slit's edge, which may slant through the blanking and come back from the screen's
// top: drawn where it crosses the screen, a refresh of `vtotal` lines apart.
void WrappedEdgeLine(cv::Mat& image, const cv::Matx33d& grid, double u, double slope, int width, int height,
                     double vtotal, int thickness) {
    const double middle = width / 2.0;
    if (std::abs(slope) < 1e-9 || vtotal <= 0) return EdgeLine(image, grid, u, slope, width, thickness);
    const double lowest = std::min(u - slope * middle, u + slope * middle), highest = std::max(u - slope * middle, u + slope * middle);
    for (int k = static_cast<int>(std::floor((lowest - height) / vtotal)); k <= static_cast<int>(std::ceil(highest / vtotal)); ++k) {
        // Columns where the edge, a refresh k earlier, lies on the screen.
        double a = middle + (k * vtotal - u) / slope, b = middle + (k * vtotal + height - u) / slope;
        if (a > b) std::swap(a, b);
        a = std::max(a, 0.0), b = std::min(b, static_cast<double>(width));
        if (a >= b) continue;
        const cv::Point2d from = Apply(grid, {a, u + slope * (a - middle) - k * vtotal});
        const cv::Point2d to = Apply(grid, {b, u + slope * (b - middle) - k * vtotal});
        cv::line(image, ToPixel(from), ToPixel(to), kEdgeColour, thickness, cv::LINE_AA);
    }
}

}  // namespace

cv::Mat Annotate(const cv::Mat& original, const Reading& r) {
    cv::Mat image;
    if (original.channels() == 1) cv::cvtColor(original, image, cv::COLOR_GRAY2BGR);
    else image = original.clone();
    const int thickness = std::max(1, image.cols / 1000);
    const double textScale = std::max(0.5, image.cols / 2500.0);
    for (const auto& outline : r.findings.pieces) {
        std::vector<cv::Point> polygon;
        for (const cv::Point2f& p : outline) polygon.push_back(ToPixel(p));
        cv::polylines(image, polygon, true, kPieceColour, thickness, cv::LINE_AA);
    }
    const ScreenLayout layout = LayoutFor(r.width, r.height);
    for (std::size_t g = 0; g < r.findings.grids.size(); ++g) {
        const cv::Matx33d& grid = r.findings.grids[g];
        const double top = std::max(0.0, r.findings.gridLines[g].first), bottom = std::min<double>(r.height, r.findings.gridLines[g].second);
        const double left = layout.rulerLeft, right = layout.rulerLeft + kRulerWidth;
        std::vector<cv::Point> ruler = {ToPixel(Apply(grid, {left, top})), ToPixel(Apply(grid, {right, top})),
                                        ToPixel(Apply(grid, {right, bottom})), ToPixel(Apply(grid, {left, bottom}))};
        cv::polylines(image, ruler, true, kRulerColour, thickness, cv::LINE_AA);
        if (!r.labelSeen) continue;
        for (int label = kLabelStep; label <= r.height; label += kLabelStep) {
            if (label - 0.5 < top || label - 0.5 > bottom) continue;
            const cv::Point at = ToPixel(Apply(grid, {right + 45.0, label - 0.5}));
            cv::line(image, ToPixel(Apply(grid, {right + 5.0, label - 0.5})), ToPixel(Apply(grid, {right + 40.0, label - 0.5})),
                     kTextColour, thickness, cv::LINE_AA);
            Label(image, std::to_string(label), at + cv::Point(0, static_cast<int>(8 * textScale)), textScale, kTextColour);
        }
    }
    if (!r.findings.grids.empty()) {
        auto gridFor = [&](double u) -> const cv::Matx33d& {
            std::size_t best = 0;
            double distance = INFINITY;
            for (std::size_t g = 0; g < r.findings.grids.size(); ++g) {
                const auto [first, last] = r.findings.gridLines[g];
                const double d = u < first ? first - u : u > last ? u - last : 0;
                if (d < distance) distance = d, best = g;
            }
            return r.findings.grids[best];
        };
        // The edges where the exposure began and ended, each with the phase then shown
        // and, of a slit, the curtain that drew it, written left of the bars.
        const double phaseColumn = std::max(10.0, layout.BarColumn(-1, kBars) - 150.0);
        const bool slit = r.shutter.kind == ShutterKind::kSlit;
        auto edge = [&](const std::optional<double>& u, double slope, const std::optional<int>& phase,
                        const std::string& curtain, const std::string& what, double below) {
            if (!u) return;
            const cv::Matx33d& grid = gridFor(*u);
            if (slit) WrappedEdgeLine(image, grid, *u, slope, r.width, r.height, r.vtotal.value_or(0), 2 * thickness);
            else EdgeLine(image, grid, *u, slope, r.width, 2 * thickness);
            std::string text = slit ? curtain : "";
            if (phase) text += (text.empty() ? "" : ", ") + what + " phase " + std::to_string(*phase);
            if (text.empty()) return;
            // A slit's edges slant: their labels sit on them, where the band lights the screen.
            const double column = slit ? 0.3 * r.width : phaseColumn;
            double there = *u + slope * (column - r.width / 2.0);
            if (slit && r.vtotal) there -= *r.vtotal * std::floor(there / *r.vtotal);
            const cv::Point at = ToPixel(Apply(grid, {column, there + below}));
            Label(image, text, at, textScale, kEdgeColour);
        };
        edge(r.findings.startEdge, r.findings.startSlope, r.firstPhase, "opening curtain", "from", 12);
        edge(r.findings.endEdge, r.findings.endSlope, r.lastPhase, "closing curtain", "to", -6);
    }
    // The report, line by line, in the top left corner.
    const std::string report = HumanReport(r);
    int y = static_cast<int>(40 * textScale);
    for (std::size_t from = 0; from < report.size();) {
        const std::size_t to = report.find('\n', from);
        Label(image, report.substr(from, to - from), {static_cast<int>(20 * textScale), y}, textScale, kTextColour);
        y += static_cast<int>(40 * textScale);
        from = to == std::string::npos ? report.size() : to + 1;
    }
    return image;
}

}  // namespace velmaro::photo
