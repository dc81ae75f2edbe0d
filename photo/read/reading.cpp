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
constexpr double kEdgeSettling = 0.3;      // lines: what the edges' quantisation may add to the length
constexpr double kSlitSlant = 4;           // lines across the screen: a band slanted more is a slit's
constexpr double kResponseShare = 0.1;     // of an LCD's response, that its shape may move the window's length

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

// The lit pieces with their grids; why none could be used when the list is empty.
std::vector<Located> LocatePieces(const Photo& photo, const ScreenLayout& layout, const cv::Mat1f& rulerLinear) {
    const std::vector<Piece> pieces = FindLitRegions(photo.sharp);
    if (pieces.empty()) throw ReadError("no lit screen found in the photograph");
    const double longest = pieces[0].LongSide();
    std::vector<Located> located;
    std::string why = "no pattern found: the lit parts hold no ruler";
    for (std::size_t i = 0; i < pieces.size() && static_cast<int>(i) < kMostPieces; ++i) {
        const Piece& piece = pieces[i];
        if (piece.LongSide() < 0.6 * longest) continue;
        const auto rough = FindRuler(photo.sharp, piece, layout, rulerLinear);
        if (!rough) continue;
        if (rough->scale < kSmallestPitch) {
            why = "the pattern is too small to read lines: " + Format(rough->scale) + " photo pixels per screen line, under " +
                  Format(kSmallestPitch) + " (photograph it with 2 or more)";
            continue;
        }
        // The ruler's columns show through blur that hides its ticks: then the pattern is
        // there but too blurred to read.
        const std::string blurred = "the pattern is too blurred to read lines: the ruler's ticks cannot be told apart";
        const auto grid = FitGrid(photo.sharp, piece, *rough, layout);
        if (!grid) {
            if (rough->match > kRulerSeen) why = blurred;
            continue;
        }
        located.push_back({piece, *grid, NumberLines(photo.sharp, *grid, layout, rulerLinear)});
    }
    if (located.empty()) throw ReadError(why);
    return located;
}

WhiteProfile Profile(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, double firstU, double lastU,
                     int width) {
    std::vector<double> all;
    std::vector<int> starts;
    for (const auto& group : columns.whiteGroups) {
        starts.push_back(static_cast<int>(all.size()));
        all.insert(all.end(), group.begin(), group.end());
    }
    const int blackStart = static_cast<int>(all.size());
    all.insert(all.end(), columns.black.begin(), columns.black.end());
    const int rows = static_cast<int>(std::round((lastU - firstU) * kSamplesPerLine));
    const cv::Mat1f samples = SampleView(sharp, view, all, Positions(firstU + 0.5 / kSamplesPerLine, rows, 1.0 / kSamplesPerLine));
    WhiteProfile profile;
    profile.firstU = firstU;
    profile.width = width;
    profile.values.create(rows, static_cast<int>(columns.whiteGroups.size()));
    std::vector<double> blacks;
    for (int j = 0; j < rows; ++j) {
        for (std::size_t g = 0; g < columns.whiteGroups.size(); ++g) {
            const int from = starts[g], to = g + 1 < starts.size() ? starts[g + 1] : blackStart;
            double sum = 0;
            int count = 0;
            for (int i = from; i < to; ++i)
                if (!std::isnan(samples(j, i))) sum += samples(j, i), ++count;
            profile.values(j, static_cast<int>(g)) = count ? static_cast<float>(sum / count) : NAN;
        }
        for (int i = blackStart; i < samples.cols; ++i)
            if (!std::isnan(samples(j, i))) blacks.push_back(samples(j, i));
    }
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
        view.grids.push_back({p.grid.screenToPhoto, p.grid.firstU, p.grid.lastU});
    }
    return view;
}

// A leaf shutter's band: the same window everywhere, its length the band's at every
// column; an edge off the screen counts the blanking beyond it as open.
void ReadLeafBand(const Band& band, int m, int h, Reading& r) {
    r.shutter.kind = ShutterKind::kLeaf;
    const double blanking = r.vtotal ? *r.vtotal - h : 0;
    double lines = m * (r.vtotal ? *r.vtotal : 0) + band.length + (band.wraps ? blanking : 0);
    double uncertainty = 2 * band.lengthSpread + kEdgeSettling;
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
    r.uncertaintyLines = uncertainty;
}

// A slit across the lines: the exposure at every place of the photo from the curtains'
// lines, and each curtain's time across the photo; the exposure is that at the middle of
// the travel.
void ReadSlitBand(const SlitTravel& travel, Reading& r) {
    r.shutter = {ShutterKind::kSlit, travel.alongPhotoX ? TravelAxis::kPhotoX : TravelAxis::kPhotoY, true};
    r.exposureLines = travel.Exposure(travel.length / 2);
    r.uncertaintyLines = 2 * std::hypot(travel.openError, travel.closeError) + kEdgeSettling;
    if (!r.linePeriod) return;
    const double line = *r.linePeriod;
    r.curtains.openingTravel = std::abs(travel.openSlope) * travel.length * line;
    r.curtains.closingTravel = std::abs(travel.closeSlope) * travel.length * line;
    const double start = travel.Exposure(travel.StartPlace()) * line, end = travel.Exposure(travel.EndPlace()) * line;
    r.exposureAcross = {start, *r.exposureLines * line, end, start > 0 && end > 0 ? std::optional(std::log2(end / start)) : std::nullopt};
}

// Where the scan met an edge in a column: the scan time of line coordinate u there equals
// the edge's time at the place u lies at in the photo; modulo a refresh.
double EdgeInColumn(const SlitTravel& travel, const ScreenView& view, double column, int width, double vtotal, bool opening,
                    double guess) {
    double u = guess;
    for (int round = 0; round < 8; ++round) {
        const cv::Point2d p = Apply(view.For(u).screenToPhoto, {column, u});
        const double place = travel.alongPhotoX ? p.x : p.y;
        const double time = opening ? travel.openAt + travel.openSlope * place : travel.closeAt + travel.closeSlope * place;
        u = time - kActiveLineShare * column / width;
        u -= vtotal * std::floor(u / vtotal);
    }
    return u;
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

void ReadCrt(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, const Band& band, double black,
             const ScreenLayout& layout, const ReadOptions& options, Reading& r) {
    // The bars: the band's lines hold one pass more than the rest's.
    const BandPhases phases = PhasesOfBand(BarSharesByLine(sharp, view, columns, black, layout.height), band);
    r.firstPhase = phases.first, r.lastPhase = phases.last;
    r.refreshes = phases.refreshes, r.repeatedPictures = phases.repeatedPictures;
    r.notes.insert(r.notes.end(), phases.notes.begin(), phases.notes.end());
    const int m = phases.passes, h = layout.height;
    r.findings.startEdge = band.start, r.findings.endEdge = band.end;
    r.findings.startSlope = band.startSlope, r.findings.endSlope = band.endSlope;
    ReadSlant(band, layout.width, r);

    // A slit across the lines slants the band; one told to be a leaf shutter's, or one
    // whose slant is no more than its edges' blur, is read as a leaf shutter's.
    const double vtotal = r.vtotal.value_or(h);
    const auto travel = options.shutter == ShutterKind::kLeaf ? std::nullopt
                                                              : FitSlit(band, view, sharp.size(), layout.width, vtotal, m);
    const bool slit = travel && (options.shutter == ShutterKind::kSlit ||
                                 (r.slantLines && std::abs(*r.slantLines) > std::max(kSlitSlant, 6 * travel->openError)));
    const bool needsTotal = m > 0 || band.wraps || band.startAtTop || band.endAtBottom || (slit && travel->closeAt > vtotal);
    if (!r.labelSeen && needsTotal) {
        r.notes.push_back("the band holds no label and reaches the screen's edge: its place and length are not known");
    } else if (needsTotal && !r.vtotal) {
        r.notes.push_back("the exposure spans the vertical blanking: give --refresh or --vtotal to count it");
    } else if (slit) {
        ReadSlitBand(*travel, r);
    } else {
        ReadLeafBand(band, m, h, r);
    }
    if (!r.labelSeen) return;
    const double sweep = kActiveLineShare / 2;  // the beam reaches the middle column this late in a line
    if (slit) {
        const double centre = layout.width / 2.0;
        const double start = EdgeInColumn(*travel, view, centre, layout.width, vtotal, true, band.start);
        const double end = EdgeInColumn(*travel, view, centre, layout.width, vtotal, false, band.end);
        r.startInBlanking = start >= h, r.endInBlanking = end >= h;
        r.firstLine = r.startInBlanking ? 1 : static_cast<int>(std::floor(start + sweep)) + 1;
        r.lastLine = r.endInBlanking ? h : static_cast<int>(std::floor(end + sweep)) + 1;
        return;
    }
    r.firstLine = band.startAtTop ? 1 : std::clamp(static_cast<int>(std::floor(band.start + sweep)) + 1, 1, h);
    r.lastLine = band.endAtBottom ? h : std::clamp(static_cast<int>(std::floor(band.end + sweep)) + 1, 1, h);
}

void ReadLcd(const cv::Mat1b& sharp, const ScreenView& view, const Columns& columns, double black,
             const ScreenLayout& layout, Reading& r) {
    const cv::Mat1f shares = BarSharesByLine(sharp, view, columns, black, layout.height);
    double barColumn = 0;
    int count = 0;
    for (const auto& bar : columns.bars)
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
    r.uncertaintyLines = 2 * zone->lengthError + kResponseShare * zone->response + kEdgeSettling;
    r.responseLines = zone->response;
    r.firstPhase = zone->firstPhase;
    r.lastPhase = zone->lastPhase;
    r.refreshes = zone->refreshes;
    r.repeatedPictures = 0;
    r.slantLines = 0.0;
    const double total = r.vtotal.value_or(h);
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

Reading ReadPhoto(const Photo& photo, const ReadOptions& options) {
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
    const std::vector<Located> pieces = LocatePieces(photo, layout, rulerLinear);
    for (const Located& p : pieces) r.findings.pieces.push_back(p.piece.outline);
    const Columns columns = ColumnsFor(layout);
    const ScreenView view = Place(photo.sharp, pieces, columns, layout, r.labelSeen);
    for (const PlacedGrid& g : view.grids) {
        r.findings.grids.push_back(g.screenToPhoto);
        r.findings.gridLines.emplace_back(g.firstU, g.lastU);
    }
    if (!r.labelSeen) r.notes.push_back("no label of the ruler is lit: the lines are not numbered");
    else r.orientation = OrientationOf(view.grids.front(), layout);

    double firstU = 0, lastU = layout.height;
    if (!r.labelSeen) firstU = std::floor(view.grids[0].firstU) - 8, lastU = std::ceil(view.grids[0].lastU) + 8;
    const WhiteProfile profile = Profile(photo.sharp, view, columns, firstU, lastU, layout.width);
    const auto band = FindBand(profile);
    const bool fullScreen = r.labelSeen && view.grids.size() == 1 && view.grids[0].firstU < 20 &&
                            view.grids[0].lastU > layout.height - 20;
    const bool lcd = options.display ? *options.display == DisplayKind::kLcd : !band && fullScreen;
    r.display = lcd ? DisplayKind::kLcd : DisplayKind::kCrt;
    if (lcd) {
        if (!r.labelSeen) throw ReadError("the ruler's labels cannot be matched: the lines are not numbered");
        ReadLcd(photo.sharp, view, columns, profile.black, layout, r);
    } else if (band) {
        ReadCrt(photo.sharp, view, columns, *band, profile.black, layout, options, r);
    } else {
        r.notes.push_back("no lit band stands out on the screen");
    }
    return r;
}

}  // namespace velmaro::photo
