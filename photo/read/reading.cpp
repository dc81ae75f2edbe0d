#include "photo/read/reading.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <numeric>

#include "photo/model/geometry.h"
#include "photo/model/pictures.h"
#include "photo/model/ruler.h"
#include "photo/read/band.h"
#include "photo/read/bars.h"
#include "photo/read/grid.h"
#include "photo/read/locate.h"
#include "photo/read/numbering.h"
#include "photo/read/phases.h"
#include "photo/read/polarity.h"
#include "photo/read/robust.h"
#include "photo/read/sample.h"
#include "photo/read/slit.h"
#include "photo/read/view.h"
#include "photo/read/zone.h"

namespace velmaro::photo {

namespace {

constexpr double kSmallestPitch = 1.6;     // photo pixels per line, below which lines cannot be told apart
constexpr double kRulerSeen = 0.8;         // correlation of the ruler's column profile that shows the ruler
constexpr int kMostPieces = 3;
constexpr int kOtherMatches = 3;           // less likely matches of the ruler tried where a grid's numbering is in doubt
// Lines from where the screen's top or bottom lies that a band's edge may be found when it
// is that edge: the raster's edge, blurred, with no glow beyond it.
constexpr double kScreenEdgeSlack = 1;
constexpr double kEdgeSettling = 0.3;      // lines: what the edges' quantisation may add to the length
constexpr int kWidthClear = 6;             // columns kept clear of the screen's sides and the bars for its white
constexpr double kSameScreen = 0.03;       // of the width, that two photographs of one screen's mode may differ by
const char* const kAlongScanNote =
    "the slit travels along the scan, with the beam or against it, and one photograph cannot tell its speed from the "
    "exposure: take a second photograph with the camera upside down and read the two together, or hold the camera on "
    "its side so that the slit crosses the lines";
const char* const kLeafAssumedNote =
    "read as a leaf shutter: the band does not slant, but a focal-plane slit travelling along the scan would look the "
    "same and stretch or squash the band; if the camera has one, give --shutter slit and read a second photograph "
    "taken upside down with this one";
constexpr double kPartShare = 0.1;         // of a bar's share, from black or white, that a part of a picture shows
constexpr double kManyShare = 0.8;
constexpr int kClippedBetween = 1;         // bars a line of several pictures keeps between black and white when clipped
constexpr int kStripeGroups = 3;           // groups of each side's stripes' columns, whose edges are read apart
constexpr double kNoisyClipped = 0.01;     // of the stripes' samples, that noise may lift to the photo's full scale
constexpr double kSlitSlant = 4;           // lines across the screen: a band slanted more is a slit's
constexpr double kSlitKept = 0.7;          // of a slit's edges that must follow its lines
constexpr double kSlitSpread = 2;          // lines that they may stray by
// Lines per column beyond which a band's slant smears its edges across a group's columns by
// more than the blur: its profile is then read along the slant.
constexpr double kShearedSlope = 0.1;
constexpr int kMeetingRounds = 12;         // of finding where the beam meets a curtain: each cuts the error by the slit's share of the scan's speed
constexpr double kSettled = 0.01;          // lines: where the search for a meeting has settled
// Of a length measured down the screen, what the grid's scale may be off by there: the
// lens's distortion, which no homography follows, bends the lines far from the ruler.
constexpr double kScaleShare = 0.003;
// ... and of a slit's exposure, read from edges followed across the whole screen to the
// travel's middle, which may lie far from the ruler: the distortion bends the lines there
// by up to some per cent of their spacing.
constexpr double kSlitScaleShare = 0.01;
constexpr double kLeastStepShare = 0.001;  // of a band's step, the least that clipping is taken to leave
constexpr double kQuartileWidths = 1.349;  // a Gaussian's spreads from a quarter of the way to three quarters
constexpr double kMarkedReachStops = 1.0 / 3;  // how far a shutter's exposure may stray from its marked speed
constexpr double kDecayShare = 0.3;        // of the end's fall, that the length may be off by
constexpr double kAveragedShare = 0.5;     // of the lines a profile's samples are means over, that its band's length may be off by
constexpr double kStripesLines = 2;        // lines of the stripes' mean: a white line and a black one
constexpr double kSlowShare = 0.5;         // of the response beyond the window, that the window's length may be off by
constexpr double kResponseShare = 0.35;    // of an LCD's response, that its shape (gamma, rise against fall, leak) may move the window's length
constexpr double kHiddenByClipping = 2;    // responses beyond the one read that clipped white may hide
constexpr double kCutRampShare = 0.4;      // ... more, where the screen's top or bottom cuts the ramp of the window's edge

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

struct Located {
    Piece piece;
    Grid grid;
    std::optional<Numbering> numbering;
};

struct LocatedPieces {
    std::vector<Located> located;
    int unread = 0;  // lit pieces as long as the others that show no ruler
};

// The lit pieces with their grids; why none could be used when there are none.
LocatedPieces LocatePieces(const Photo& photo, const ScreenLayout& layout, const cv::Mat1f& rulerLinear) {
    const std::vector<Piece> pieces = FindLitRegions(photo.sharp);
    if (pieces.empty()) throw ReadError("no lit screen found in the photograph");
    const double longest = pieces[0].LongSide();
    std::vector<Located> located;
    int unread = 0;
    std::string why = "no pattern found: the lit parts hold no ruler";
    for (std::size_t i = 0; i < pieces.size() && static_cast<int>(i) < kMostPieces; ++i) {
        const Piece& piece = pieces[i];
        if (piece.LongSide() < 0.6 * longest) continue;
        ++unread;
        // The likeliest match of the ruler whose grid fits: a slanted band may match it
        // about as well along a wrong axis, where no grid fits. Where none fits, the
        // likeliest says why; a less likely one says nothing of the photograph.
        const std::vector<RoughGrid> rulers = FindRulers(photo.sharp, piece, layout, rulerLinear);
        std::optional<Located> chosen;
        int doubtful = 0;
        for (std::size_t k = 0; k < rulers.size(); ++k) {
            const RoughGrid& rough = rulers[k];
            if (rough.scale < kSmallestPitch) {
                if (k == 0)
                    why = "the pattern is too small to read lines: " + Format(rough.scale) + " photo pixels per screen line, under " +
                          Format(kSmallestPitch) + " (photograph it with 2 or more)";
                continue;
            }
            const auto grid = FitGrid(photo.sharp, piece, rough, layout);
            if (!grid) {
                // The ruler's columns show through blur that hides its ticks: then the
                // pattern is there but too blurred to read.
                if (k == 0 && rough.match > kRulerSeen) why = "the pattern is too blurred to read lines: the ruler's ticks cannot be told apart";
                continue;
            }
            // A match whose grid leaves the numbering in doubt gives way to a less likely one
            // that numbers the lines for certain: a slanted band crosses the ruler's labels
            // on a slant, where a grid a little off misplaces them.
            Located here{piece, *grid, NumberLines(photo.sharp, *grid, layout, rulerLinear)};
            const bool certain = here.numbering && here.numbering->certain;
            if (!chosen || certain) chosen = here;
            if (certain || ++doubtful > kOtherMatches) break;
        }
        if (chosen) located.push_back(*chosen), --unread;
    }
    if (located.empty()) throw ReadError(why);
    return {located, unread};
}

// The white columns' light down the screen, group by group. Under a band slanted `slope`
// lines down a column, each column is read that much further down than the group's middle,
// so that the band's edges stay as sharp in the group as in one column (a sample read off
// the lines [firstU, lastU), or off the few sampled beyond them, is left out).
WhiteProfile Profile(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, double firstU, double lastU,
                     int width, double slope = 0) {
    std::vector<double> all;
    std::vector<int> starts;
    std::vector<int> shifts;  // samples each column is read further down
    // Every other column of a group: its mean is a mean over many places already.
    for (const auto& group : columns.whiteGroups) {
        starts.push_back(static_cast<int>(all.size()));
        const double middle = (group.front() + group.back()) / 2;
        for (std::size_t k = 0; k < group.size(); k += 2) {
            all.push_back(group[k]);
            shifts.push_back(static_cast<int>(std::lround(slope * (group[k] - middle) * kSamplesPerLine)));
        }
    }
    const int blackStart = static_cast<int>(all.size());
    all.insert(all.end(), columns.black.begin(), columns.black.end());
    shifts.resize(all.size(), 0);
    int reach = 0;
    for (int shift : shifts) reach = std::max(reach, std::abs(shift));
    // The profile's own rows, and some beyond them on either side; a column read further
    // down stays among the same of the two.
    const int rows = static_cast<int>(std::round((lastU - firstU) * kSamplesPerLine)), beyond = kBeyondLines * kSamplesPerLine;
    const int margin = reach + beyond;
    const cv::Mat1f samples = SampleView(sharp, view, all, Positions(firstU + (0.5 - margin) / kSamplesPerLine, rows + 2 * margin,
                                                                     1.0 / kSamplesPerLine));
    auto at = [&](int j, int i) {
        const int row = j + shifts[i];
        const bool own = j >= 0 && j < rows;
        return row < (own ? 0 : -beyond) || row >= (own ? rows : rows + beyond) ? NAN : samples(row + margin, i);
    };
    WhiteProfile profile;
    profile.firstU = firstU;
    profile.width = width;
    cv::Mat1f means(rows + 2 * beyond, static_cast<int>(columns.whiteGroups.size()));
    std::vector<double> blacks;
    for (int j = -beyond; j < rows + beyond; ++j) {
        for (std::size_t g = 0; g < columns.whiteGroups.size(); ++g) {
            const int from = starts[g], to = g + 1 < starts.size() ? starts[g + 1] : blackStart;
            double sum = 0;
            int count = 0;
            for (int i = from; i < to; ++i)
                if (const float v = at(j, i); !std::isnan(v)) sum += v, ++count;
            means(j + beyond, static_cast<int>(g)) = count ? static_cast<float>(sum / count) : NAN;
        }
        if (j < 0 || j >= rows) continue;
        for (int i = blackStart; i < samples.cols; ++i)
            if (const float v = at(j, i); !std::isnan(v)) blacks.push_back(v);
    }
    profile.values = means.rowRange(beyond, beyond + rows).clone();
    profile.above = means.rowRange(0, beyond).clone();
    profile.below = means.rowRange(beyond + rows, means.rows).clone();
    for (const auto& group : columns.whiteGroups) profile.groupColumns.push_back((group.front() + group.back()) / 2);
    if (!blacks.empty()) profile.black = Median(blacks);
    return profile;
}

// The grid as the screen's: its lines numbered, each way up, and its columns each way round
// (about the ruler's middle, where the grid put the ruler).
PlacedGrid Placed(const Grid& grid, const Numbering& n, const ScreenLayout& layout) {
    const double sx = n.flipColumns ? -1 : 1, tx = n.flipColumns ? 2.0 * layout.rulerLeft + kRulerWidth : 0;
    const double su = n.flipLines ? -1 : 1, tu = n.flipLines ? n.offset : -n.offset;
    const cv::Matx33d screenToGrid(sx, 0, tx, 0, su, tu, 0, 0, 1);
    const double first = n.flipLines ? n.offset - grid.lastU : grid.firstU + n.offset;
    const double last = n.flipLines ? n.offset - grid.firstU : grid.lastU + n.offset;
    return {grid.screenToPhoto * screenToGrid, first, last};
}

// Two lit pieces of one screen are the parts of a band that wraps over the blanking: the
// upper one begins at the screen's top, the lower one ends at its bottom. A part without
// a whole label is placed by that edge.
std::optional<PlacedGrid> PlaceByScreenEdge(const cv::Mat1b& sharp, const Located& piece, const Located& other,
                                            const Columns& columns, const ScreenLayout& layout) {
    // A grid whose marks stray from it by a line or more was fitted to something else
    // (a rough match off the ruler): the band it would place is no band of the screen's.
    if (piece.grid.stripeResidual > kRegisteredWithin) return std::nullopt;
    // The other part, numbered, tells which way up and round the screen lies.
    Numbering n;
    if (other.numbering && other.numbering->certain) n.flipLines = other.numbering->flipLines, n.flipColumns = other.numbering->flipColumns;
    n.offset = n.flipLines ? -1 : 0;  // on the ticks' lattice
    const PlacedGrid provisional = Placed(piece.grid, n, layout);
    const auto band = FindBand(Profile(sharp, ScreenView{{provisional}}, columns, std::floor(provisional.firstU) - 8,
                                       std::ceil(provisional.lastU) + 8, layout.width));
    if (!band || band->startAtTop || band->endAtBottom || band->wraps) return std::nullopt;
    const cv::Point2d otherCentre(other.piece.box.center.x, other.piece.box.center.y);
    const bool upper = Apply(Inverse(provisional.screenToPhoto), otherCentre).y > (provisional.firstU + provisional.lastU) / 2;
    const double shift = upper ? -band->start : layout.height - band->end;
    n.offset += piece.grid.period * static_cast<int>(std::lround(shift / piece.grid.period));
    return Placed(piece.grid, n, layout);
}

// The share of a profile's samples that reach the photo's full scale.
double ClippedShare(const cv::Mat1f& values) {
    int clipped = 0, known = 0;
    for (float v : values)
        if (!std::isnan(v)) ++known, clipped += v >= kClippedWhite;
    return known > 0 ? static_cast<double>(clipped) / known : 0;
}

// Whether most of the screen's white reaches the photo's full scale.
bool WhiteClipped(const WhiteProfile& profile) { return ClippedShare(profile.values) > 0.5; }

// The ruler's line stripes down the screen, in groups of their columns, each sample the
// stripes' mean over the two lines about it: half way between white and black, as blur
// keeps the mean, so that its level over black is the white's, halved, and the band's
// level over the rest's the white's ratio. Nullopt where the stripes' peaks reach the
// photo's full scale too.
std::optional<WhiteProfile> StripesProfile(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns,
                                           double firstU, double lastU, int width) {
    Columns stripes = columns;
    stripes.whiteGroups.clear();
    for (const BarSide& side : columns.barSides)
        for (int g = 0; g < kStripeGroups; ++g) {
            const std::size_t from = side.stripes.size() * g / kStripeGroups, to = side.stripes.size() * (g + 1) / kStripeGroups;
            if (to > from) stripes.whiteGroups.emplace_back(side.stripes.begin() + from, side.stripes.begin() + to);
        }
    if (stripes.whiteGroups.empty()) return std::nullopt;
    WhiteProfile profile = Profile(sharp, view, stripes, firstU, lastU, width);
    if (ClippedShare(profile.values) > kNoisyClipped) return std::nullopt;
    cv::Mat1f all;
    cv::vconcat(std::vector<cv::Mat>{profile.above, profile.values, profile.below}, all);
    for (int g = 0; g < all.cols; ++g) {
        std::vector<float> column(all.rows);
        for (int j = 0; j < all.rows; ++j) column[j] = all(j, g);
        const std::vector<float> mean = StripesMean(column, kSamplesPerLine);
        for (int j = 0; j < all.rows; ++j) all(j, g) = mean[j];
    }
    profile.above = all.rowRange(0, profile.above.rows).clone();
    profile.values = all.rowRange(profile.above.rows, profile.above.rows + profile.values.rows).clone();
    profile.below = all.rowRange(profile.above.rows + profile.values.rows, all.rows).clone();
    return profile;
}

// Whether most lines hold the light of several pictures: bars neither black nor white,
// all but one of them (or at least `between` where clipping may whiten the others).
bool ManyPictures(const cv::Mat1f& shares, int least = kBars - 1) {
    int lines = 0, many = 0;
    for (int n = 0; n < shares.rows; ++n) {
        int between = 0, known = 0;
        for (int j = 0; j < kBars; ++j) {
            if (std::isnan(shares(n, j))) continue;
            ++known;
            between += shares(n, j) > kPartShare && shares(n, j) < 1 - kPartShare;
        }
        if (known == kBars) ++lines, many += between >= least;
    }
    return lines > 0 && many > kManyShare * lines;
}

// Where the white is clipped all over: the profile, the bars' shares and the band from the
// ruler's stripes instead. Returns why not where they cannot be: the stripes clip too, or
// show no band (the bars' shares alone, their white known to some per cent, count nothing).
std::optional<std::string> ReadStripesInstead(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns,
                                              double firstU, double lastU, const ScreenLayout& layout,
                                              WhiteProfile& profile, std::optional<cv::Mat1f>& shares,
                                              std::optional<Band>& band) {
    auto stripes = StripesProfile(sharp, view, columns, firstU, lastU, layout.width);
    if (!stripes)
        return "the screen's white is clipped (the photograph is over-exposed), and so are the ruler's line stripes: "
               "lines lit once more than others show no brighter, nor can a CRT be told from an LCD (give --display "
               "lcd for an LCD)";
    profile = *stripes;
    const StripesShares fromStripes = BarSharesFromStripes(sharp, view, columns, layout.height);
    shares = fromStripes.shares;
    band = FindBand(profile);
    if (!band && ManyPictures(*shares)) band = FindBand(profile, true);
    if (!band)
        return "the screen's white is clipped (the photograph is over-exposed): lines lit once more than others show "
               "no brighter, nor does a band show on the ruler's line stripes";
    band->leastShareScale = fromStripes.least, band->mostShareScale = fromStripes.most;
    band->averagedLines = kStripesLines;
    return std::nullopt;
}

// How the screen lies in the photo: where its top points, counter-clockwise from the
// photo's top, and whether its columns run the other way (a film scanned from its back).
Reading::Orientation OrientationOf(const PlacedGrid& grid, const ScreenLayout& layout) {
    const double x = layout.width / 2.0, u = std::clamp(layout.height / 2.0, grid.firstU, grid.lastU);
    const cv::Point2d at = Apply(grid.screenToPhoto, {x, u});
    const cv::Point2d right = Apply(grid.screenToPhoto, {x + 1, u}) - at, down = Apply(grid.screenToPhoto, {x, u + 1}) - at;
    double degrees = std::atan2(down.x, down.y) * 180 / CV_PI;
    if (degrees < 0) degrees += 360;
    return {degrees, right.x * down.y - right.y * down.x < 0};
}

ScreenView Place(const cv::Mat1b& sharp, const std::vector<Located>& pieces, const Columns& columns,
                 const ScreenLayout& layout, bool& numbered) {
    ScreenView view;
    std::vector<const Located*> unplaced;
    for (const Located& p : pieces) {
        if (p.numbering && p.numbering->certain) view.grids.push_back(Placed(p.grid, *p.numbering, layout));
        else unplaced.push_back(&p);
    }
    if (pieces.size() == 2) {
        for (const Located* p : unplaced) {
            const Located& other = &pieces[0] == p ? pieces[1] : pieces[0];
            if (auto placed = PlaceByScreenEdge(sharp, *p, other, columns, layout)) view.grids.push_back(*placed);
        }
    }
    numbered = !view.grids.empty();
    if (!numbered) {  // measured where the largest piece is, its lines unnumbered
        const Located& p = pieces.front();
        view.grids.push_back({p.grid.screenToPhoto, p.grid.firstU, p.grid.lastU, p.grid.period});
    }
    return view;
}

// Where clipping cuts the band's step short, the middle of what is left of it lies lower
// on the step than its true middle, each edge's blur moving it outwards: a Gaussian fall's
// share f of the way up lies |z| of its spreads from the middle, Phi(z) = f. The band's
// white is (m + 1) / m times the rest's, the clipped white the levels' ratio times it.
double ClippedEdgesShift(const Band& band, int m) {
    if (!band.clipped || m <= 0) return 0;
    const double f = std::clamp((band.ratio - 1) * m / 2, kLeastStepShare, 0.5);
    double low = -10, high = 0;  // z, by halving: Phi(z) = f
    for (int round = 0; round < 60; ++round) {
        const double z = (low + high) / 2;
        (0.5 * std::erfc(-z / std::sqrt(2.0)) < f ? low : high) = z;
    }
    const double spread = band.endWidth / kQuartileWidths;
    return 2 * spread * std::abs(low);
}

// A leaf shutter's band: the same window everywhere, its length the band's at every
// column; an edge off the screen counts the blanking beyond it as open.
void ReadLeafBand(const Band& band, int m, int h, Reading& r) {
    r.shutter.kind = ShutterKind::kLeaf;
    const double blanking = r.vtotal ? *r.vtotal - h : 0;
    double lines = m * (r.vtotal ? *r.vtotal : 0) + band.length + (band.wraps ? blanking : 0);
    // The phosphor's decay moves the end and the glow before the start alike, but not
    // quite, its parts and the blur weighing differently at each.
    // A band found on the stripes' mean over two lines has its edges blurred by as much, and
    // where it is thin its level and so its edges' middles come from its area alone.
    double uncertainty = 2 * band.lengthSpread + kEdgeSettling + (band.endAtBottom ? 0 : kDecayShare * band.endWidth) +
                         kAveragedShare * band.averagedLines;
    // An edge on the screen's top or bottom line: the shutter moved somewhere in the
    // blanking beyond it, or from the last lit line on where that may be the edge.
    const double vtotal = r.vtotal.value_or(h);
    if (band.startAtTop) {
        const double from = std::min(band.startFrom, static_cast<double>(h)) - vtotal, to = band.startTo;
        lines -= (from + to) / 2, uncertainty += (to - from) / 2, r.startInBlanking = true;
    }
    if (band.endAtBottom) {
        const double from = std::min(band.endFrom, static_cast<double>(h));
        lines += from - h + (vtotal - from) / 2, uncertainty += (vtotal - from) / 2, r.endInBlanking = true;
    }
    r.exposureLines = lines;
    // The grid's scale errs over the distance between the two edges measured: the band's
    // length, or the lines between a wrapped band's two parts.
    r.uncertaintyLines = uncertainty + kScaleShare * std::max(band.length, std::abs(band.start - band.end)) +
                         ClippedEdgesShift(band, m);
}

// Where the photo allows several exposures (line periods, the likeliest first): the one
// nearest the marked speed where that is given, else the likeliest, its uncertainty
// reaching the others; none where the photo ranks them not at all and there are more
// than two. Sets the candidates, the notes and the uncertainty; returns the one taken.
std::optional<double> ChooseAmong(std::vector<double> likeliestFirst, bool ranked, const ReadOptions& options, Reading& r) {
    std::vector<double> lines = likeliestFirst;
    std::sort(lines.begin(), lines.end());
    r.candidateLines = lines;
    auto nearest = [&](double to) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (std::abs(std::log(lines[i] / to)) < std::abs(std::log(lines[best] / to))) best = i;
        return best;
    };
    std::string range = " (" + Format(lines.front()) + " to " + Format(lines.back()) + " line periods)";
    if (r.linePeriod)
        range = " (" + Format(1000 * lines.front() * *r.linePeriod) + " to " + Format(1000 * lines.back() * *r.linePeriod) + " ms)";
    const std::string open = "the photograph leaves the count of refreshes open: it allows " + std::to_string(lines.size()) +
                             " exposures" + range;
    if (options.markedSeconds && r.linePeriod) {
        // A shutter may be off its marked speed by a third of a stop, as a worn one often is:
        // the uncertainty reaches any other exposure allowed that near it.
        const double marked = *options.markedSeconds / *r.linePeriod;
        const std::size_t chosen = nearest(marked);
        double reach = 0;
        for (double l : lines)
            if (std::abs(std::log2(l / marked)) <= kMarkedReachStops) reach = std::max(reach, std::abs(l - lines[chosen]));
        if (r.uncertaintyLines) *r.uncertaintyLines += reach;
        r.notes.push_back(open + "; the one nearest the marked speed is taken" +
                          (reach > 0 ? ", its uncertainty reaching the others within a third of a stop of it" : ""));
        return lines[chosen];
    }
    if (!ranked && lines.size() > 2) {
        r.notes.push_back(open + ", and nothing in it prefers one: give --marked with the speed set on the camera to choose");
        return std::nullopt;
    }
    // Every exposure allowed lies within what the photograph's own measures allow: the
    // uncertainty reaches the farthest of them.
    const std::size_t chosen = nearest(likeliestFirst.front());
    const double reach = std::max(lines[chosen] - lines.front(), lines.back() - lines[chosen]);
    if (r.uncertaintyLines) *r.uncertaintyLines += reach;
    r.notes.push_back(open + "; the likeliest is given, its uncertainty reaching the others (give --marked with the "
                             "speed set on the camera to choose)");
    return lines[chosen];
}

// Over more than a cycle of five pictures the bars repeat, and the levels' ratio tells
// little: the counts of refreshes the band allows.
void SettleOpenCount(const BandPhases& phases, const ReadOptions& options, Reading& r) {
    if (phases.passCandidates.size() < 2 || !r.exposureLines || !r.uncertaintyLines || !r.vtotal) return;
    const double base = *r.exposureLines - phases.passes * *r.vtotal;
    std::vector<double> lines;
    for (int m : phases.passCandidates) lines.push_back(base + m * *r.vtotal);
    const std::optional<double> chosen = ChooseAmong(lines, phases.ranked, options, r);
    if (!chosen) {
        r.exposureLines.reset(), r.uncertaintyLines.reset();
        return;
    }
    const int m = static_cast<int>(std::lround((*chosen - base) / *r.vtotal));
    if (r.refreshes) *r.refreshes += m - phases.passes;
    r.exposureLines = chosen;
    r.repeatedPictures.reset();
}

// Lines that a slanted band's edge moves by across half a group of columns, where the
// group's light is taken: a quarter of its move from one group to the next (modulo a
// refresh, for an edge that wraps between them).
double SmearAcrossGroup(const Band& band, double vtotal) {
    std::vector<double> moves;
    for (std::size_t i = 1; i < band.groups.size(); ++i) {
        const GroupEdges &a = band.groups[i - 1], &b = band.groups[i];
        if (!a.start || !b.start) continue;
        const double move = *b.start - *a.start;
        moves.push_back(std::abs(move - vtotal * std::round(move / vtotal)));
    }
    return moves.empty() ? 0 : Median(moves) / 4;
}

// Whether a slit's edges follow its lines: where many stray, an edge was misread or
// unwrapped onto the wrong refresh, and the travel is not known. A steep slant moves the
// edge across a group's own columns, by as much as they may stray besides.
bool Followed(const std::optional<SlitTravel>& travel, const Band& band, double vtotal) {
    return travel && travel->kept >= kSlitKept && travel->spread <= kSlitSpread + SmearAcrossGroup(band, vtotal);
}

// A slit across the lines: the exposure at every place of the photo from the curtains'
// lines, and each curtain's time across the photo; the exposure is that at the middle of
// the travel.
void ReadSlitBand(const SlitTravel& travel, Reading& r) {
    r.shutter = {ShutterKind::kSlit, travel.alongPhotoX ? TravelAxis::kPhotoX : TravelAxis::kPhotoY, true};
    r.exposureLines = travel.Exposure(travel.length / 2);
    r.uncertaintyLines = 2 * std::hypot(travel.openError, travel.closeError) + kEdgeSettling + kSlitScaleShare * *r.exposureLines +
                         std::abs(travel.pairsOff);
    if (!r.linePeriod) return;
    const double line = *r.linePeriod;
    r.curtains.openingTravel = std::abs(travel.openSlope) * travel.length * line;
    r.curtains.closingTravel = std::abs(travel.closeSlope) * travel.length * line;
    const double start = travel.Exposure(travel.StartPlace()) * line, end = travel.Exposure(travel.EndPlace()) * line;
    r.exposureAcross = {start, *r.exposureLines * line, end, start > 0 && end > 0 ? std::optional(std::log2(end / start)) : std::nullopt};
}

// Whether the screen's lines run nearer the photo's x axis than its y axis.
bool LinesAlongPhotoX(const cv::Matx33d& screenToPhoto, int width, double u) {
    const cv::Point2d lines = Apply(screenToPhoto, {width / 2.0 + 1, u}) - Apply(screenToPhoto, {width / 2.0, u});
    return std::abs(lines.x) >= std::abs(lines.y);
}

// The photo axis along which a slit travels: the one the user names (the photo's long or
// short side), else the one nearer the screen's lines when it crosses them (a slanted
// band), else the one nearer its columns.
TravelAxis SlitAxis(bool linesAlongX, cv::Size photo, const ReadOptions& options, bool crossing) {
    if (options.travelAlongLongSide) {
        const bool longIsX = photo.width >= photo.height;
        return *options.travelAlongLongSide == longIsX ? TravelAxis::kPhotoX : TravelAxis::kPhotoY;
    }
    return linesAlongX == crossing ? TravelAxis::kPhotoX : TravelAxis::kPhotoY;
}

// Whether a slit travels along the screen's columns, with the beam or against it: then
// the band is stretched or squashed by the slit's speed, which one photograph cannot tell.
bool SlitAlongScan(const ScreenView& view, const ScreenLayout& layout, cv::Size photo, const ReadOptions& options,
                   bool slanted) {
    const PlacedGrid& g = view.grids.front();
    const bool linesAlongX = LinesAlongPhotoX(g.screenToPhoto, layout.width, (g.firstU + g.lastU) / 2);
    return (SlitAxis(linesAlongX, photo, options, slanted) == TravelAxis::kPhotoX) != linesAlongX;
}

// The curtains' speeds across the frame, where the user gave its size: the frame's side
// along the travel over each curtain's time.
void SetSpeeds(Reading& r, const ReadOptions& options, cv::Size photo) {
    if (!options.frameMm || !r.shutter.travelAxis) return;
    const bool longIsX = photo.width >= photo.height;
    const bool alongLong = (*r.shutter.travelAxis == TravelAxis::kPhotoX) == longIsX;
    const double mm = alongLong ? std::max(options.frameMm->width, options.frameMm->height)
                                : std::min(options.frameMm->width, options.frameMm->height);
    if (r.curtains.openingTravel) r.curtains.openingSpeed = mm / (1000 * *r.curtains.openingTravel);
    if (r.curtains.closingTravel) r.curtains.closingSpeed = mm / (1000 * *r.curtains.closingTravel);
}

// The columns the lit screen spans along line coordinate u: from the background beside
// the bars outwards to where the light falls to half; nullopt where a side lies off the
// photo.
std::optional<double> ScreenWidth(const cv::Mat1b& sharp, const ScreenView& view, const ScreenLayout& layout, double u) {
    const int reach = layout.width / 4;
    const std::vector<double> xs = Positions(-reach + 0.5, layout.width + 2 * reach, 1);
    const cv::Mat1f row = SampleView(sharp, view, xs, {u - 0.5, u, u + 0.5});
    auto at = [&](int i) { return (row(0, i) + row(1, i) + row(2, i)) / 3; };
    const int left = reach + kWidthClear, right = reach + layout.width - kWidthClear;
    std::vector<double> background;
    for (int i = left; i < reach + layout.BarColumn(-1, kBars) - kWidthClear; ++i) background.push_back(at(i));
    for (int i = reach + layout.BarColumn(+1, kBars) + kBarWidth + kWidthClear; i < right; ++i) background.push_back(at(i));
    if (background.empty()) return std::nullopt;
    const double half = Median(background) / 2;
    if (!(half > 0)) return std::nullopt;
    auto side = [&](int from, int step) -> std::optional<double> {
        for (int i = from; i + step >= 0 && i + step < static_cast<int>(xs.size()); i += step) {
            const double v = at(i), next = at(i + step);
            if (std::isnan(v) || std::isnan(next)) return std::nullopt;
            if (next < half) return xs[i] + step * (v - half) / (v - next);
        }
        return std::nullopt;
    };
    const auto l = side(left, -1), r = side(right, +1);
    if (!l || !r) return std::nullopt;
    return *r - *l;
}

// Where the scan met an edge in a column: the scan time of line coordinate u there equals
// the edge's time at the place u lies at in the photo; modulo a refresh. In the blanking
// the beam lights no place; it is taken at the screen's bottom, where it stops. A slit that
// runs a little along the scan may meet the beam twice about a blanking: once in it, which
// lights nothing, and once among the next refresh's first lines, where the band begins or
// ends as the photograph shows it. Returned as the line coordinate that many refreshes on
// from the first refresh's top: its refresh is how many whole refreshes it holds.
double MeetingLine(const SlitTravel& travel, const ScreenView& view, double column, int width, int height, double vtotal,
                   bool opening) {
    auto next = [&](double u) {
        const double on = std::clamp(u, 0.5, height - 0.5);
        const cv::Point2d p = Apply(view.For(on).screenToPhoto, {column, on});
        const double place = travel.alongPhotoX ? p.x : p.y;
        const double time = opening ? travel.openAt + travel.openSlope * place : travel.closeAt + travel.closeSlope * place;
        return time - kActiveLineShare * column / width;
    };
    auto wrapped = [&](double line) { return line - vtotal * std::floor(line / vtotal); };
    auto settle = [&](double u) {
        double line = u;
        for (int round = 0; round < kMeetingRounds; ++round) u = wrapped(line = next(u));
        return line;
    };
    auto settled = [&](double line) { return std::abs(wrapped(next(wrapped(line))) - wrapped(line)) < kSettled; };
    const double line = settle(height / 2.0);
    if (wrapped(line) < height && settled(line)) return line;
    for (double from : {0.5, height - 0.5}) {
        const double other = settle(from);
        if (wrapped(other) < height && settled(other)) return other;
    }
    // None settles on the screen, and the search swings across the retrace: the edge's time
    // at the screen's bottom falls after it, and at its top before it. The beam passed the
    // curtain in the retrace, the band beginning at the next refresh's top or ending at this
    // one's bottom.
    const double again = next(wrapped(line));
    const bool across = std::floor(line / vtotal) != std::floor(again / vtotal) &&
                        std::max(wrapped(line), wrapped(again)) >= height;
    if (settled(line) || !across) return line;
    return vtotal * std::floor(std::max(line, again) / vtotal) - kSettled;
}

double EdgeInColumn(const SlitTravel& travel, const ScreenView& view, double column, int width, int height,
                    double vtotal, bool opening) {
    const double line = MeetingLine(travel, view, column, width, height, vtotal, opening);
    return line - vtotal * std::floor(line / vtotal);
}

// A slit's edges at the screen's middle column and their slopes, and the band's slant,
// from the curtains' lines: the groups' own edges, fitted as lines down the screen, lose
// the slope where a steep band wraps between them.
struct SlitEdges {
    double start = 0, end = 0, startSlope = 0, endSlope = 0, slant = 0;
};

SlitEdges EdgesOfSlit(const SlitTravel& travel, const ScreenView& view, int width, int height, double vtotal) {
    const double centre = width / 2.0, reach = width / 4.0;
    auto slope = [&](double u, bool opening) {
        const cv::Matx33d& h = view.For(u).screenToPhoto;
        const cv::Point2d a = Apply(h, {centre - reach, u}), b = Apply(h, {centre + reach, u});
        const double places = travel.alongPhotoX ? b.x - a.x : b.y - a.y;
        return (opening ? travel.openSlope : travel.closeSlope) * places / (2 * reach) - kActiveLineShare / width;
    };
    SlitEdges e;
    e.start = EdgeInColumn(travel, view, centre, width, height, vtotal, true);
    e.end = EdgeInColumn(travel, view, centre, width, height, vtotal, false);
    e.startSlope = slope(e.start, true), e.endSlope = slope(e.end, false);
    e.slant = (e.startSlope + e.endSlope) / 2 * width + kActiveLineShare;
    return e;
}

// The band's slant: the slit's, or that of the edges across the screen. The beam reaches
// column X kActiveLineShare X / width of a line late, so even under a leaf shutter the
// edges rise by that much across the screen; the rest is the slant.
void ReadSlant(const Band& band, int width, Reading& r) {
    if (!band.startAtTop && !band.endAtBottom) {
        r.slantLines = ((band.startSlope + band.endSlope) / 2) * width + kActiveLineShare;
    } else if (!band.startAtTop || !band.endAtBottom) {
        r.slantLines = (band.startAtTop ? band.endSlope : band.startSlope) * width + kActiveLineShare;
    }
}

// The refresh in which the beam met a curtain at a column and lit a line: an opening in
// the blanking lights the next refresh's lines first.
long RefreshOfMeeting(const SlitTravel& travel, const ScreenView& view, double column, int width, int height, double vtotal,
                      bool opening) {
    const double line = MeetingLine(travel, view, column, width, height, vtotal, opening);
    const auto refresh = static_cast<long>(std::floor(line / vtotal));
    return refresh + (opening && line - refresh * vtotal >= height ? 1 : 0);
}

// The band as the bars beside the ruler on one side show it, read along the slant: its
// edges at that side's column, where the curtains met the beam there.
Band BandAtColumn(const Band& band, double start, double end, int height) {
    Band b = band;
    b.startAtTop = start >= height, b.endAtBottom = end >= height;
    b.wraps = !b.startAtTop && !b.endAtBottom && end < start;
    b.start = b.startAtTop ? 0 : start, b.end = b.endAtBottom ? height : end;
    b.startSlope = b.endSlope = 0;
    if (b.wraps) {
        b.atStart = {b.start, height}, b.atEnd = {0, b.end};
        b.beforeStart = b.afterEnd = {b.end, b.start};
    } else {
        b.atStart = b.atEnd = {b.start, b.end};
        b.beforeStart = {0, b.start}, b.afterEnd = {b.end, height};
    }
    return b;
}

// A slit's phases at the opening and the closing at the screen's middle column. The bars on
// either side of the ruler, each side read along the slant, show the phase at that side's
// column; it is the middle's where the curtain met the beam there in the same refresh as
// at the middle (a picture may stay up for two refreshes: another refresh's phase says
// nothing of this one's). Where the two sides disagree, neither is taken.
std::pair<std::optional<int>, std::optional<int>> PhasesAlongSlit(const cv::Mat1b& sharp, const ScreenView& view,
                                                                  const Columns& columns, const ScreenLayout& layout,
                                                                  const Band& band, const SlitTravel& travel,
                                                                  const SlitEdges& edges, double vtotal) {
    const int w = layout.width, h = layout.height;
    const double centre = w / 2.0, slope = (edges.startSlope + edges.endSlope) / 2;
    const long first = RefreshOfMeeting(travel, view, centre, w, h, vtotal, true);
    const long last = RefreshOfMeeting(travel, view, centre, w, h, vtotal, false);
    std::optional<int> phases[2][2];  // by side, opening and closing
    for (int side : {-1, +1}) {
        double column = 0;
        int count = 0;
        for (const auto& bar : columns.barSides[side < 0 ? 0 : 1].bars)
            for (double x : bar) column += x, ++count;
        if (count == 0) continue;
        column /= count;
        const double start = EdgeInColumn(travel, view, column, w, h, vtotal, true);
        const double end = EdgeInColumn(travel, view, column, w, h, vtotal, false);
        if (start >= h && end >= h) continue;
        const BandPhases seen = PhasesOfBand(BarSharesAlong(sharp, view, columns, h, side, column, slope),
                                             BandAtColumn(band, start, end, h));
        const int s = side < 0 ? 0 : 1;
        if (RefreshOfMeeting(travel, view, column, w, h, vtotal, true) == first) phases[s][0] = seen.first;
        if (RefreshOfMeeting(travel, view, column, w, h, vtotal, false) == last) phases[s][1] = seen.last;
    }
    auto agreed = [&](int which) -> std::optional<int> {
        const std::optional<int>&a = phases[0][which], &b = phases[1][which];
        if (a && b && *a != *b) return std::nullopt;
        return a ? a : b;
    };
    return {agreed(0), agreed(1)};
}

// Unnumbered, the lines are known modulo the ticks' period: a band's edge that falls where
// the screen's top or bottom would then lie may be the screen's own, the shutter having
// opened or closed in the blanking beyond it. One that does not lies inside the screen.
bool MayMeetScreenEdge(const Band& band, const PlacedGrid& grid, int height) {
    if (grid.period <= 0) return false;
    auto near = [&](double u, double edge) {
        const double off = std::remainder(u - edge, static_cast<double>(grid.period));
        return std::abs(off) <= kScreenEdgeSlack;
    };
    return near(band.start, 0) || near(band.end, height);
}

void ReadCrt(const cv::Mat1b& sharp, const ScreenView& view, const cv::Mat1f& shares, const Columns& columns,
             const Band& band, const ScreenLayout& layout, const ReadOptions& options, Reading& r) {
    // The bars: the band's lines hold one pass more than the rest's.
    const BandPhases phases = PhasesOfBand(shares, band);
    r.firstPhase = phases.first, r.lastPhase = phases.last;
    r.refreshes = phases.refreshes, r.repeatedPictures = phases.repeatedPictures;
    const std::size_t phaseNotes = r.notes.size();  // where the bars' notes go, once it is known whose they are
    if (band.clipped && phases.passCandidates.size() > 1)
        r.notes.push_back("the screen's white is clipped (the photograph is over-exposed): the band's level against the "
                          "rest's does not show, and only the bars count the refreshes");
    const int m = phases.passes, h = layout.height;
    r.findings.startEdge = band.start, r.findings.endEdge = band.end;
    r.findings.startSlope = band.startSlope, r.findings.endSlope = band.endSlope;
    ReadSlant(band, layout.width, r);

    // A slit across the lines slants the band; one told to be a leaf shutter's, or one
    // whose slant is no more than its edges' blur, is read as a leaf shutter's.
    const double vtotal = r.vtotal.value_or(h);
    const auto travel = options.shutter == ShutterKind::kLeaf ? std::nullopt
                                                              : FitSlit(band, view, sharp.size(), layout.width, vtotal, m);
    const bool travelKnown = Followed(travel, band, vtotal);
    // The slant is the curtains' where they are known: a steep band that wraps between the
    // groups leaves no slope to a line fitted down the screen through their own edges.
    const auto edges = travelKnown ? std::optional(EdgesOfSlit(*travel, view, layout.width, h, vtotal)) : std::nullopt;
    const double slant = edges ? edges->slant : r.slantLines.value_or(0);
    const bool slanted = std::abs(slant) > std::max(kSlitSlant, travel ? 6 * travel->openError : 0.0);
    const bool slit = travelKnown && options.shutter != ShutterKind::kLeaf && (slanted || options.shutter == ShutterKind::kSlit);
    std::vector<std::string> barNotes = phases.notes;
    if (slit) {
        r.findings.startEdge = edges->start, r.findings.endEdge = edges->end;
        r.findings.startSlope = edges->startSlope, r.findings.endSlope = edges->endSlope;
        r.slantLines = edges->slant;
    }
    if (slit && r.labelSeen) {
        // The bars beside the ruler lie some hundreds of columns from the middle, where a
        // steep slant puts the band on other lines, or in another refresh: they are read
        // along the slant, side by side; the refreshes are those the curtains met the beam
        // in at the middle.
        const auto [first, last] = PhasesAlongSlit(sharp, view, columns, layout, band, *travel, *edges, vtotal);
        const double centre = layout.width / 2.0;
        r.firstPhase = first, r.lastPhase = last;
        r.refreshes = static_cast<int>(RefreshOfMeeting(*travel, view, centre, layout.width, h, vtotal, false) -
                                       RefreshOfMeeting(*travel, view, centre, layout.width, h, vtotal, true) + 1);
        if (*r.refreshes <= 0) r.refreshes.reset();
        if (r.refreshes == 1) r.repeatedPictures = 0;
        else if (r.refreshes == 2 && first && last) r.repeatedPictures = *first == *last ? 1 : 0;
        else if (r.refreshes != phases.refreshes) r.repeatedPictures.reset();
        barNotes.clear();
        if (!first || !last) barNotes.push_back("the bars do not show the phases clearly");
    }
    r.notes.insert(r.notes.begin() + static_cast<std::ptrdiff_t>(phaseNotes), barNotes.begin(), barNotes.end());
    const bool alongScan = options.shutter == ShutterKind::kSlit && SlitAlongScan(view, layout, sharp.size(), options, slanted);
    const bool needsTotal = m > 0 || band.wraps || band.startAtTop || band.endAtBottom || (slit && travel->closeAt > vtotal);
    const bool mayMeetEdge = !slit && !r.labelSeen && MayMeetScreenEdge(band, view.grids.front(), h);
    if (slanted && options.shutter != ShutterKind::kLeaf && !travelKnown) {
        r.notes.push_back("the band slants, but its edges across the screen do not follow one slit's travel: the exposure "
                          "is not read");
    } else if (alongScan) {
        const PlacedGrid& g = view.grids.front();
        const bool linesAlongX = LinesAlongPhotoX(g.screenToPhoto, layout.width, (g.firstU + g.lastU) / 2);
        r.shutter = {ShutterKind::kSlit, SlitAxis(linesAlongX, sharp.size(), options, false), false};
        r.notes.push_back(kAlongScanNote);
    } else if (std::abs(r.slantLines.value_or(0)) > kSlitSlant && options.shutter != ShutterKind::kLeaf && !slit) {
        r.notes.push_back("the band slants by " + Format(std::abs(*r.slantLines)) + " lines, more than a leaf shutter's, "
                          "but its edges are too unsteady to follow a slit's travel: the exposure is not read");
    } else if (band.wraps && !slit && (!phases.first || !phases.last)) {
        r.notes.push_back("the band runs through the blanking, and the bars do not show its two parts to be one pass: "
                          "the exposure is not read");
    } else if (!r.labelSeen && needsTotal) {
        r.notes.push_back("the band holds no label and reaches the screen's edge: its place and length are not known");
    } else if (mayMeetEdge) {
        r.notes.push_back("the band holds no label, and an edge of it lies where the screen's top or bottom may: it may "
                          "run on into the blanking, and its length is not known");
    } else if (needsTotal && !r.vtotal) {
        r.notes.push_back("the exposure spans the vertical blanking: give --refresh or --vtotal to count it");
    } else if (slit) {
        ReadSlitBand(*travel, r);
        SetSpeeds(r, options, sharp.size());
    } else {
        ReadLeafBand(band, m, h, r);
        if (!options.shutter) r.notes.push_back(kLeafAssumedNote);
    }
    SettleOpenCount(phases, options, r);
    if (!r.labelSeen) return;
    const double sweep = kActiveLineShare / 2;  // the beam reaches the middle column this late in a line
    if (slit) {
        const double start = edges->start, end = edges->end;
        r.startInBlanking = start >= h, r.endInBlanking = end >= h;
        r.firstLine = r.startInBlanking ? 1 : static_cast<int>(std::floor(start + sweep)) + 1;
        r.lastLine = r.endInBlanking ? h : static_cast<int>(std::floor(end + sweep)) + 1;
        return;
    }
    r.firstLine = band.startAtTop ? 1 : std::clamp(static_cast<int>(std::floor(band.start + sweep)) + 1, 1, h);
    r.lastLine = band.endAtBottom ? h : std::clamp(static_cast<int>(std::floor(band.end + sweep)) + 1, 1, h);
}

// Nothing changed on the screen while the shutter was open: every line holds the same
// pictures' light. On a CRT it opened and closed in the blanking, a whole number of
// refreshes apart; so on an LCD where more than one picture shows (one is all an LCD shows
// through a shutter open for less than a refresh). The blanking hides how far into it the
// two ends lay.
void ReadWholeRefreshes(const BarShares& shares, const ScreenLayout& layout, const ReadOptions& options, Reading& r) {
    if (r.display == DisplayKind::kLcd && PhasesSeen(shares) == 1) {
        r.notes.push_back("the picture did not change while the shutter was open, so the exposure cannot be seen");
        return;
    }
    r.notes.push_back("nothing changed on the screen while the shutter was open: it opened and closed in the blanking, "
                      "a whole number of refreshes apart");
    if (!r.vtotal) {
        r.notes.push_back("the exposure spans the vertical blanking: give --refresh or --vtotal to count it");
        return;
    }
    const std::vector<int> counts = WholeRefreshCandidates(shares);
    std::vector<double> lines;
    for (int n : counts) lines.push_back(n * static_cast<double>(*r.vtotal));
    const int h = layout.height;
    r.uncertaintyLines = *r.vtotal - h;
    r.exposureLines = counts.size() == 1 ? std::optional(lines.front()) : ChooseAmong(lines, false, options, r);
    if (!r.exposureLines) {
        r.uncertaintyLines.reset();
        return;
    }
    r.refreshes = static_cast<int>(std::lround(*r.exposureLines / *r.vtotal));
    r.startInBlanking = r.endInBlanking = true;
    r.firstLine = 1, r.lastLine = h;
    r.slantLines = 0.0;
}

void ReadLcd(const cv::Mat1f& shares, const Columns& columns, const ScreenLayout& layout, bool clipped, Reading& r) {
    double barColumn = 0;
    int count = 0;
    for (const BarSide& side : columns.barSides)
        for (const auto& bar : side.bars)
            for (double x : bar) barColumn += x, ++count;
    std::string why;
    const auto zone = FindChangeZone(shares, count ? barColumn / count : layout.width / 2.0, layout.width, r.vtotal, why);
    if (!zone) {
        r.notes.push_back(why);
        return;
    }
    const int h = layout.height;
    r.exposureLines = zone->length;
    // The ramps' ends follow the panel's response, whose shape the fit only approximates.
    // A window shorter than the response leaves a ramp up and down that a shorter window
    // and a slower panel make alike; clipped white flattens the ramps' tops the same way,
    // and hides from the fit their slow approach to white, where a panel's time constant
    // shows most: the response read may then be a third of the panel's.
    const double slow = std::max(0.0, zone->response - zone->length) + (clipped ? kHiddenByClipping * zone->response : 0);
    // A window that opened or closed within a response of the screen's top or bottom has
    // part of that ramp beyond the screen, where no line shows how it went on: the fit then
    // trades the edge's place against the panel's time constant.
    const double total = r.vtotal.value_or(h);
    const double closed = std::fmod(zone->start + zone->length, total);
    auto nearScreenEdge = [&](double u) { return std::min(u, std::abs(u - h)) < zone->response; };
    const bool rampCut = nearScreenEdge(zone->start) || nearScreenEdge(closed);
    r.uncertaintyLines = 2 * zone->lengthError + kResponseShare * zone->response + kSlowShare * slow + kEdgeSettling +
                         kScaleShare * zone->length + (rampCut ? kCutRampShare * zone->response : 0);
    if (clipped) r.notes.push_back("the screen's white is clipped (the photograph is over-exposed): the panel's response is not read as it is");
    if (!std::isfinite(*r.uncertaintyLines)) {
        r.exposureLines.reset(), r.uncertaintyLines.reset();
        r.notes.push_back("the changed bar's ramp does not fix the window's length");
        return;
    }
    r.responseLines = zone->response;
    r.firstPhase = zone->firstPhase;
    r.lastPhase = zone->lastPhase;
    r.refreshes = zone->refreshes;
    r.repeatedPictures = 0;
    r.slantLines = 0.0;
    double end = zone->start + zone->length;
    end -= total * std::floor(end / total);
    r.startInBlanking = zone->start >= h;
    r.endInBlanking = end >= h;
    r.firstLine = r.startInBlanking ? 1 : std::clamp(static_cast<int>(std::floor(zone->start)) + 1, 1, h);
    r.lastLine = r.endInBlanking ? h : std::clamp(static_cast<int>(std::floor(end)) + 1, 1, h);
    r.findings.startEdge = zone->start;
    r.findings.endEdge = std::min(end, static_cast<double>(h));
}

}  // namespace

std::string Name(ShutterKind kind) {
    switch (kind) {
        case ShutterKind::kLeaf: return "leaf";
        case ShutterKind::kSlit: return "slit";
        case ShutterKind::kUnknown: break;
    }
    return "unknown";
}

std::string Name(TravelAxis axis) { return axis == TravelAxis::kPhotoX ? "photo-x" : "photo-y"; }

std::optional<double> Reading::ExposureSeconds() const {
    if (!exposureLines || !linePeriod) return std::nullopt;
    return *exposureLines * *linePeriod;
}
std::optional<double> Reading::UncertaintySeconds() const {
    if (!uncertaintyLines || !linePeriod) return std::nullopt;
    return *uncertaintyLines * *linePeriod;
}
std::optional<double> Reading::ResponseSeconds() const {
    if (!responseLines || !linePeriod) return std::nullopt;
    return *responseLines * *linePeriod;
}

namespace {

// The reading of one polarity of the photo.
Reading ReadPositive(const Photo& photo, const ReadOptions& options) {
    Reading r;
    r.width = options.width, r.height = options.height;
    if (options.refreshHz) {
        const Timing t = ResolveTiming(options.width, options.height, *options.refreshHz, options.vtotal, options.hfreqKhz);
        r.refreshHz = t.refreshHz, r.vtotal = t.vtotal, r.vtotalSource = t.source, r.linePeriod = t.LinePeriod();
    } else {
        if (options.vtotal) r.vtotal = *options.vtotal, r.vtotalSource = VtotalSource::kGiven;
        if (options.hfreqKhz) r.linePeriod = 1e-3 / *options.hfreqKhz;
    }

    const ScreenLayout layout = LayoutFor(options.width, options.height);
    const cv::Mat1f rulerLinear = RulerLinear(BuiltInRuler().grey);
    const LocatedPieces found = LocatePieces(photo, layout, rulerLinear);
    const std::vector<Located>& pieces = found.located;
    for (const Located& p : pieces) r.findings.pieces.push_back(p.piece.outline);
    const Columns columns = ColumnsFor(layout);
    const ScreenView view = Place(photo.sharp, pieces, columns, layout, r.labelSeen);
    for (const PlacedGrid& g : view.grids) {
        r.findings.grids.push_back(g.screenToPhoto);
        r.findings.gridLines.emplace_back(g.firstU, g.lastU);
    }
    if (!r.labelSeen) r.notes.push_back("no label of the ruler is lit: the lines are not numbered");
    else r.orientation = OrientationOf(view.grids.front(), layout);
    // Unnumbered, a band may end at the screen's top or bottom and go on through the
    // blanking into the other lit part, which its length would then leave out.
    if (!r.labelSeen && found.unread > 0) {
        r.notes.push_back("another lit part of the screen shows no ruler, and without numbered lines the band may run "
                          "into it through the blanking: the exposure is not read");
        return r;
    }

    double firstU = 0, lastU = layout.height;
    if (!r.labelSeen) firstU = std::floor(view.grids[0].firstU) - 8, lastU = std::ceil(view.grids[0].lastU) + 8;
    WhiteProfile profile = Profile(photo.sharp, view, columns, firstU, lastU, layout.width);
    auto band = FindBand(profile);
    if (band && options.shutter != ShutterKind::kLeaf) {
        const double vtotal = r.vtotal.value_or(layout.height);
        const double slope = LinesPerColumn(*band, vtotal);
        if (std::abs(slope) > kShearedSlope) {
            // ... unless the slit's edges follow its lines only across the groups.
            WhiteProfile along = Profile(photo.sharp, view, columns, firstU, lastU, layout.width, slope);
            auto followed = [&](const Band& b) {
                return Followed(FitSlit(b, view, photo.sharp.size(), layout.width, vtotal, b.passes), b, vtotal);
            };
            auto again = FindBand(along);
            if (again && (followed(*again) || !followed(*band))) band = again, profile = along;
        }
    }
    std::optional<cv::Mat1f> shares;
    auto sharesByLine = [&]() -> const cv::Mat1f& {
        if (!shares) shares = BarSharesByLine(photo.sharp, view, columns, layout.height);
        return *shares;
    };
    // Many passes light the whole screen and leave the band a faint step; the bars show it,
    // every line holding several pictures' light.
    if (!band && ManyPictures(sharesByLine())) band = FindBand(profile, true);
    const bool fullScreen = r.labelSeen && view.grids.size() == 1 && view.grids[0].firstU < 20 &&
                            view.grids[0].lastU > layout.height - 20;
    bool lcd = options.display ? *options.display == DisplayKind::kLcd : !band && fullScreen;
    r.display = lcd ? DisplayKind::kLcd : DisplayKind::kCrt;
    // Over-exposed, the white holds lines lit m + 1 times no brighter than lines lit m times
    // (where the rest of the screen is lit at all, m > 0), and shows no band of many
    // passes: nothing then tells a CRT from an LCD open for many refreshes (a short LCD
    // exposure leaves most lines one picture, which clipping does not change). Where only
    // the band's lines are clipped, the rest's white and bars count the passes, and the
    // band's bars, held down with its white by one factor, tell the pass it added.
    // Where the rest is clipped too, its white hides phase 4's passes, which no bar shows;
    // the ruler's stripes, half as bright, may still show the band and, to some per cent,
    // the white the bars are measured against.
    const bool clipped = WhiteClipped(profile);
    if (clipped && !(options.display && lcd) &&
        (band ? band->passes > 0 && band->restClipped : ManyPictures(sharesByLine(), kClippedBetween))) {
        if (const auto why = ReadStripesInstead(photo.sharp, view, columns, firstU, lastU, layout, profile, shares, band)) {
            r.notes.push_back(*why);
            return r;
        }
        lcd = false, r.display = DisplayKind::kCrt;
        r.notes.push_back("the screen's white is clipped (the photograph is over-exposed): read from the ruler's line "
                          "stripes, which are not, the bars' white known only to within some per cent");
    }
    const auto even = r.labelSeen && (lcd || !band) ? EvenShares(sharesByLine()) : std::nullopt;
    if (even) {
        ReadWholeRefreshes(*even, layout, options, r);
    } else if (lcd) {
        if (!r.labelSeen) throw ReadError("the ruler's labels cannot be matched: the lines are not numbered");
        ReadLcd(sharesByLine(), columns, layout, clipped, r);
    } else if (band) {
        ReadCrt(photo.sharp, view, sharesByLine(), columns, *band, layout, options, r);
    } else {
        r.notes.push_back("no lit band stands out on the screen");
    }
    // A band longer than two labels' spacing lights a label wherever it lies on the screen;
    // none read means the labels could not be, and nothing then tells whether the band
    // ends at the screen's top or bottom, or covers it whole, the blanking's share unseen.
    if (!r.labelSeen && r.exposureLines && *r.exposureLines > 2 * kLabelStep + kLabelStep / 2) {
        r.exposureLines.reset(), r.uncertaintyLines.reset(), r.candidateLines.clear();
        r.notes.push_back("a band this long lights the ruler's labels, but none could be read: whether it ends at the "
                          "screen's top or bottom cannot be told, and the exposure is not read");
    }
    if (r.labelSeen) {
        const double lit = band && !lcd ? (band->wraps ? band->end / 2 : (band->start + band->end) / 2) : layout.height / 2.0;
        r.findings.screenWidth = ScreenWidth(photo.sharp, view, layout, lit);
    }
    // An exposure is given with an uncertainty that holds, or not at all.
    if (r.exposureLines && !(r.uncertaintyLines && std::isfinite(*r.uncertaintyLines) && std::isfinite(*r.exposureLines))) {
        r.exposureLines.reset(), r.uncertaintyLines.reset();
        r.notes.push_back("the exposure's uncertainty could not be told");
    }
    return r;
}

}  // namespace

Reading ReadPhoto(const Photo& photo, const ReadOptions& options) {
    auto read = [&](bool negative) {
        Reading r = ReadPositive(negative ? Photo{PositiveOf(photo.sharp), photo.colour} : photo, options);
        r.negative = negative;
        return r;
    };
    if (options.negative) return read(*options.negative);
    // The likelier polarity first; where it shows no pattern, the other.
    const bool negative = LooksNegative(photo.sharp);
    try {
        return read(negative);
    } catch (const ReadError& error) {
        try {
            return read(!negative);
        } catch (const ReadError&) {
            throw error;
        }
    }
}

Reading ReadPair(const Photo& first, const Photo& second, const ReadOptions& options) {
    // Each band as it shows, stretched or squashed by the slit.
    ReadOptions each = options;
    each.shutter = ShutterKind::kLeaf;
    Reading pair;
    pair.photos = {ReadPhoto(first, each), ReadPhoto(second, each)};
    const Reading &a = pair.photos[0], &b = pair.photos[1];
    for (const Reading* r : {&a, &b}) {
        if (!r->exposureLines || !r->uncertaintyLines)
            throw ReadError(std::string(r == &a ? "the first" : "the second") + " photograph gives no band height: " +
                            (r->notes.empty() ? "no band" : r->notes.front()));
        if (r->display != DisplayKind::kCrt) throw ReadError("a pair is read on a CRT, whose band a slit stretches");
    }
    if (a.findings.screenWidth && b.findings.screenWidth &&
        std::abs(*a.findings.screenWidth - *b.findings.screenWidth) > kSameScreen * options.width)
        throw ReadError("the two photographs show screens of " + Format(*a.findings.screenWidth) + " and " +
                        Format(*b.findings.screenWidth) + " columns: not one mode");
    if (a.orientation && b.orientation) {
        const double turn = std::fmod(std::abs(a.orientation->rotationDeg - b.orientation->rotationDeg), 360.0);
        if (std::min(turn, 360 - turn) < 90)
            throw ReadError("the second photograph must be taken with the camera upside down against the first");
    }
    for (const Reading* r : {&a, &b}) {
        // Where a band meets the blanking, a leaf's photograph bounds what the blanking hid;
        // a slit along the scan does not: the lines beyond the blanking were drawn while the
        // slit was elsewhere and stay dark, however long the band went on. Two lit stretches
        // read as one band through the blanking are the slit's two passes, not one.
        if (r->startInBlanking || r->endInBlanking || r->refreshes.value_or(1) != 1)
            throw ReadError(std::string("the band in the ") + (r == &a ? "first" : "second") +
                            " photograph meets the screen's top or bottom, where a slit along the scan hides how long it "
                            "is: take that photograph again with its band inside the screen");
    }
    const double n1 = std::max(*a.exposureLines, *b.exposureLines), n2 = std::min(*a.exposureLines, *b.exposureLines);
    const double s1 = *a.exposureLines >= *b.exposureLines ? *a.uncertaintyLines : *b.uncertaintyLines;
    const double s2 = *a.exposureLines >= *b.exposureLines ? *b.uncertaintyLines : *a.uncertaintyLines;
    if (n1 - n2 <= s1 + s2)
        throw ReadError("the two bands are alike (" + Format(n1) + " and " + Format(n2) +
                        " lines): no slit travelling along the scan, but a leaf shutter or a slit across the lines; read "
                        "each photograph alone");
    // With the beam the slit stretches the band, against it squashes it: N = T / |1 - 1/v|,
    // v the slit's speed in lines per line period.
    const double sum = n1 + n2, lines = 2 * n1 * n2 / sum;
    const double d1 = 2 * n2 * n2 / (sum * sum), d2 = 2 * n1 * n1 / (sum * sum);
    pair.display = DisplayKind::kCrt;
    pair.width = a.width, pair.height = a.height;
    pair.refreshHz = a.refreshHz, pair.vtotal = a.vtotal, pair.vtotalSource = a.vtotalSource, pair.linePeriod = a.linePeriod;
    pair.exposureLines = lines;
    pair.uncertaintyLines = std::hypot(d1 * s1, d2 * s2);
    const double speed = 2 / (lines * (1 / n2 - 1 / n1));  // lines per line period
    // The slit's time across the frame: the photo's extent along its travel, in screen lines.
    const bool linesAlongX = LinesAlongPhotoX(a.findings.grids.front(), a.width,
                                              (a.findings.gridLines.front().first + a.findings.gridLines.front().second) / 2);
    const TravelAxis axis = SlitAxis(linesAlongX, first.sharp.size(), options, false);
    pair.shutter = {ShutterKind::kSlit, axis, false};
    if (pair.linePeriod && !a.findings.grids.empty()) {
        const cv::Matx33d& g = a.findings.grids.front();
        const double u = (a.findings.gridLines.front().first + a.findings.gridLines.front().second) / 2;
        const cv::Point2d down = Apply(g, {a.width / 2.0, u + 1}) - Apply(g, {a.width / 2.0, u});
        const double perLine = std::abs(axis == TravelAxis::kPhotoX ? down.x : down.y);
        const double extent = axis == TravelAxis::kPhotoX ? first.sharp.cols : first.sharp.rows;
        const double travel = extent / perLine / speed * *pair.linePeriod;
        pair.curtains.openingTravel = pair.curtains.closingTravel = travel;
        pair.exposureAcross.centre = lines * *pair.linePeriod;
        SetSpeeds(pair, options, first.sharp.size());
    }
    return pair;
}

}  // namespace velmaro::photo
