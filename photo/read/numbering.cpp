#include "photo/read/numbering.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "photo/read/sample.h"

namespace velmaro::photo {

namespace {

// Columns whose content tells lines apart beyond their parity: ticks, arrows, labels.
constexpr int kMarginColumns[] = {kMarginFirst,     kMarginFirst + 1, kMarginFirst + 2, kMarginFirst + 3,
                                   kMarginFirst + 4, kMarginFirst + 5, kMarginFirst + 6, kMarginLast,
                                   Mirrored(kMarginLast),     Mirrored(kMarginLast - 1), Mirrored(kMarginLast - 2),
                                   Mirrored(kMarginLast - 3), Mirrored(kMarginLast - 4), Mirrored(kMarginLast - 5),
                                   Mirrored(kMarginLast - 6), Mirrored(kMarginFirst)};
constexpr int kEdgeColumns[] = {1, 2, 3, Mirrored(3), Mirrored(2), Mirrored(1)};  // inside the edge strips
constexpr double kMarginMiddle = (kMarginFirst + kMarginLast) / 2.0;
constexpr double kStandsOut = 1.25;
// Of the ruler's light, how far two offsets' rulers must differ at a place for it to tell
// them apart; the places, at least, that must tell them apart for the best offset to stand
// out on them alone; and how many times better it must match them there than the other: a
// grid some columns off may match a wrong offset's, or the mirrored, labels a little
// better than the right one's, never that much.
constexpr double kTellingDifference = 0.25;
constexpr int kFewestTelling = 40;
constexpr double kStandsOutWhereTold = 3;
constexpr int kBeyondOutline = 3;  // lines
constexpr int kLitBeyond = 12;     // lines beyond the screen's top or bottom that rows lit may reach
constexpr double kLitRow = 0.5;     // of the brightest white, that a place compared must have
constexpr double kLitShare = 0.2;   // of the row's columns that must be lit for it to count
constexpr int kEnvelopeColumns = 24;  // columns on each side over which the white around a place is taken
constexpr int kEnvelopeLines = 3;
constexpr double kEvenLight = 0.8;  // of the margins' white, that the envelope keeps across a row lit whole
constexpr std::size_t kSampledRows = 60;  // rows that rank all offsets
constexpr std::size_t kFinalists = 12;    // offsets compared on every row
constexpr double kBlurs[] = {0.3, 0.45, 0.6, 0.75, 0.9, 1.1, 1.3};  // lines

double MeanOf(const cv::Mat1f& rows, int row, const int* columns, int count) {
    double sum = 0;
    int used = 0;
    for (int i = 0; i < count; ++i) {
        const float v = rows(row, columns[i]);
        if (!std::isnan(v)) sum += v, ++used;
    }
    return used ? sum / used : std::nan("");
}

}  // namespace

std::optional<Numbering> NumberLines(const cv::Mat1b& sharp, const Grid& grid, const ScreenLayout& layout,
                                     const cv::Mat1f& rulerLinear) {
    // The outline comes from a coarse overview: a few lines beyond it may still be lit.
    const int first = static_cast<int>(std::ceil(grid.firstU)) + 1 - kBeyondOutline;
    const int last = static_cast<int>(std::floor(grid.lastU)) + kBeyondOutline;
    if (last - first < 2) return std::nullopt;
    const cv::Mat1f rows = SampleScreen(sharp, grid.screenToPhoto, Positions(layout.rulerLeft + 0.5, kRulerWidth, 1),
                                        Positions(first - 0.5, last - first + 1, 1));

    // Each place as a share of its white. A row lit from one margin to the other takes its
    // white from the margins on both sides (the light may fall off across the ruler). A row
    // that a slanted band lights only in part takes it from the light's envelope, closed
    // over the ruler's marks (none is wider than some tens of columns or taller than some
    // lines), which follows the band's edge; there only places well lit count, and rows
    // with enough of them.
    // The stripes, as grey as they are wide once blurred, take their margin's light: the
    // envelope closes over marks, not over the stripes' zone.
    cv::Mat1f filled = rows.clone();
    for (int r = 0; r < filled.rows; ++r) {
        const double left = MeanOf(rows, r, kMarginColumns, 8), right = MeanOf(rows, r, kMarginColumns + 8, 8);
        for (int x = kStripeFirst; x < kTellingFirst; ++x) filled(r, x) = static_cast<float>(left);
        for (int x = Mirrored(kTellingFirst - 1); x <= Mirrored(kStripeFirst); ++x) filled(r, x) = static_cast<float>(right);
    }
    for (float& v : filled)
        if (std::isnan(v)) v = 0;
    cv::medianBlur(filled, filled, 3);  // so that the envelope does not ride on the noise's peaks
    cv::Mat1f envelope;
    cv::morphologyEx(filled, envelope, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, {2 * kEnvelopeColumns + 1, 2 * kEnvelopeLines + 1}),
                     {-1, -1}, 1, cv::BORDER_REPLICATE);
    double brightest;
    cv::minMaxLoc(envelope, nullptr, &brightest);
    std::vector<int> lit;
    cv::Mat1f all(rows.rows, kTellingLast - kTellingFirst + 1, NAN);
    for (int r = 0; r < rows.rows; ++r) {
        const double black = MeanOf(rows, r, kEdgeColumns, 6);
        const double left = MeanOf(rows, r, kMarginColumns, 8) - black, right = MeanOf(rows, r, kMarginColumns + 8, 8) - black;
        if (std::isnan(black)) continue;
        // Lit from one margin to the other, and all the way between: a steep band may light
        // both margins and leave the middle dark.
        double dimmest = INFINITY;
        for (int x = kTellingFirst; x <= kTellingLast; ++x) dimmest = std::min<double>(dimmest, envelope(r, x) - black);
        const bool whole = std::min(left, right) > kLitRow * brightest && dimmest > kEvenLight * std::min(left, right);
        int count = 0;
        double own = 0;  // the row's own brightest: the envelope reaches some lines past a lit part
        for (int x = kTellingFirst; x <= kTellingLast; ++x) {
            const double white = whole ? left + (right - left) * (x - kMarginMiddle) / (Mirrored(0) - 2 * kMarginMiddle)
                                       : envelope(r, x) - black;
            if (std::isnan(rows(r, x)) || white < kLitRow * brightest) continue;
            all(r, x - kTellingFirst) = static_cast<float>((rows(r, x) - black) / white);
            own = std::max(own, rows(r, x) - black);
            ++count;
        }
        if (whole || (count >= kLitShare * all.cols && own >= kLitRow * brightest)) lit.push_back(r);
    }
    if (lit.size() < 3) return std::nullopt;
    cv::Mat1f shares(static_cast<int>(lit.size()), all.cols);
    for (std::size_t i = 0; i < lit.size(); ++i) all.row(lit[i]).copyTo(shares.row(static_cast<int>(i)));
    struct Candidate {
        Numbering placing;
        double mismatch;
    };
    const int firstRow = first + lit.front(), lastRow = first + lit.back();  // grid line numbers
    const int lines = std::min(layout.height, kRulerHeight);
    auto mismatch = [&](const cv::Mat1f& ruler, const Numbering& n, std::size_t stride) {
        double sum = 0;
        int count = 0;
        for (std::size_t i = 0; i < lit.size(); i += stride) {
            const int line = first + lit[i], screenLine = n.flipLines ? n.offset - line + 1 : line + n.offset;
            if (screenLine < 1 || screenLine > lines) continue;  // a row beyond the screen, lit by its surround
            const float* row = ruler.ptr<float>(screenLine - 1);
            const float* share = shares.ptr<float>(static_cast<int>(i));
            for (int x = 0; x < shares.cols; ++x) {
                if (std::isnan(share[x])) continue;
                const float d = share[x] - row[n.flipColumns ? kTellingLast - x : kTellingFirst + x];
                sum += d * d;
                ++count;
            }
        }
        return count ? sum / count : INFINITY;
    };
    // Where two offsets' rulers differ, alone: a slanted band lights the ruler unevenly, and
    // the places its envelope misjudges weigh the same for both offsets, drowning out the
    // labels that tell them apart. Nullopt where too few places tell them apart.
    auto apart = [&](const cv::Mat1f& ruler, const Numbering& a, const Numbering& b) -> std::optional<std::pair<double, double>> {
        double sumA = 0, sumB = 0;
        int count = 0;
        for (std::size_t i = 0; i < lit.size(); ++i) {
            const int line = first + lit[i];
            const int lineA = a.flipLines ? a.offset - line + 1 : line + a.offset;
            const int lineB = b.flipLines ? b.offset - line + 1 : line + b.offset;
            if (lineA < 1 || lineA > lines || lineB < 1 || lineB > lines) continue;
            const float *rowA = ruler.ptr<float>(lineA - 1), *rowB = ruler.ptr<float>(lineB - 1);
            const float* share = shares.ptr<float>(static_cast<int>(i));
            for (int x = 0; x < shares.cols; ++x) {
                if (std::isnan(share[x])) continue;
                const float ra = rowA[a.flipColumns ? kTellingLast - x : kTellingFirst + x];
                const float rb = rowB[b.flipColumns ? kTellingLast - x : kTellingFirst + x];
                if (std::abs(ra - rb) < kTellingDifference) continue;
                sumA += (share[x] - ra) * (share[x] - ra), sumB += (share[x] - rb) * (share[x] - rb);
                ++count;
            }
        }
        if (count < kFewestTelling) return std::nullopt;
        return std::pair{sumA / count, sumB / count};
    };
    auto byMismatch = [](const Candidate& a, const Candidate& b) { return a.mismatch < b.mismatch; };
    // Every offset that keeps the marks' lattice, each way up and each way round, on a
    // sample of the rows; then the best few on all of them. A screen turned upside down
    // numbers its lines backwards: the grid's lines L are the screen's offset - L + 1, its
    // ticks' lattice then asking an offset one short of the period's multiples.
    std::vector<Candidate> candidates;
    // Rows lit may reach beyond the screen (the outline is coarse, and glass, bezel or wall
    // may catch light): by the outline's slack, and where they span more lines than the
    // screen has by that excess too, the offsets may place rows off the screen, and those
    // rows do not count. A band across the screen's last lines is placed so.
    const std::size_t stride = std::max<std::size_t>(1, lit.size() / kSampledRows);
    const int excess = lastRow - firstRow + 1 - lines;
    const int beyond = std::clamp(excess + kBeyondOutline, kBeyondOutline, kLitBeyond);
    for (bool flipLines : {false, true}) {
        for (bool flipColumns : {false, true}) {
            const int from = (flipLines ? lastRow : 1 - firstRow) - beyond;
            const int to = (flipLines ? lines + firstRow - 1 : lines - lastRow) + beyond;
            for (int offset = from; offset <= to; ++offset) {
                if (((offset + (flipLines ? 1 : 0)) % grid.period + grid.period) % grid.period != 0) continue;
                const Numbering n{offset, flipLines, flipColumns};
                candidates.push_back({n, mismatch(rulerLinear, n, stride)});
            }
        }
    }
    if (candidates.empty()) return std::nullopt;
    std::sort(candidates.begin(), candidates.end(), byMismatch);
    candidates.resize(std::min<std::size_t>(candidates.size(), kFinalists));
    for (Candidate& c : candidates) c.mismatch = mismatch(rulerLinear, c.placing, 1);
    std::sort(candidates.begin(), candidates.end(), byMismatch);
    // The photo is blurred: compare with the ruler blurred as much, which lets the labels
    // tell the offsets apart more clearly.
    double best = candidates[0].mismatch;
    cv::Mat1f sharpest = rulerLinear;
    for (double sigma : kBlurs) {
        cv::Mat1f blurred;
        cv::GaussianBlur(rulerLinear, blurred, cv::Size(0, 0), sigma);
        const double m = mismatch(blurred, candidates[0].placing, 1);
        if (m < best) best = m, sharpest = blurred;
    }
    for (Candidate& c : candidates) c.mismatch = mismatch(sharpest, c.placing, 1);
    std::sort(candidates.begin(), candidates.end(), byMismatch);
    Numbering numbering = candidates[0].placing;
    numbering.mismatch = candidates[0].mismatch;
    numbering.runnerUp = candidates.size() > 1 ? candidates[1].mismatch : INFINITY;
    const bool toldApart = std::all_of(candidates.begin() + 1, candidates.end(), [&](const Candidate& c) {
        const auto m = apart(sharpest, numbering, c.placing);
        return m && m->second > kStandsOutWhereTold * m->first;
    });
    numbering.certain = numbering.runnerUp > kStandsOut * numbering.mismatch + 1e-4 ||
                        (grid.stripeResidual <= kRegisteredWithin && toldApart);
    return numbering;
}

}  // namespace velmaro::photo
