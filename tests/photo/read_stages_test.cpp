// The reader's stages, each fed simulated photographs or made-up profiles whose truth is
// known: the grid under rotation and keystone, line numbering, band edges, the change
// zone of an LCD, the bars, and the report.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "photo/model/codec.h"
#include "photo/model/timing.h"
#include "photo/read/band.h"
#include "photo/read/bars.h"
#include "photo/read/grid.h"
#include "photo/read/image.h"
#include "photo/read/locate.h"
#include "photo/read/numbering.h"
#include "photo/read/phases.h"
#include "photo/read/reading.h"
#include "photo/read/slit.h"
#include "photo/read/zone.h"
#include "photo/simulate/light.h"
#include "photo/simulate/simulate.h"
#include "photo/simulate/truth.h"

using namespace velmaro::photo;

namespace {

// A CRT photograph of 1024 x 768 at 85 Hz, 2.4 photo pixels a line, as a JPEG would
// bring it, with the band from line start for `lines` lines.
struct Shot {
    Scene scene;
    Photograph photograph;
    Photo photo;
};

Shot Take(double rotation, double keystoneX, double keystoneY, double start = 300, double lines = 200,
          double blur = 0.9, double aspect = 0) {
    Shot shot;
    Scene& s = shot.scene;
    s.placement = {{2900, 2200}, 2.4, rotation, keystoneX, keystoneY, {20, -15}, aspect};
    s.optics = {blur, 0.2, 0.01};
    s.startLine = start;
    s.exposure = lines * s.timing.LinePeriod();
    shot.photograph = Simulate(BuiltInRuler(), s);
    shot.photo = DecodePhoto(EncodeImage(shot.photograph.image, "jpg", 88));
    return shot;
}

struct Located {
    Piece piece;
    Grid grid;
};

// The stages up to the grid, as the reader runs them; a stage that finds nothing ends the
// test (gtest's ASSERT ends only a function that returns nothing).
void Locate(const Shot& shot, Located& found) {
    const ScreenLayout layout = LayoutFor(1024, 768);
    const std::vector<Piece> pieces = FindLitRegions(shot.photo.sharp);
    ASSERT_EQ(1u, pieces.size());
    const auto rough = FindRuler(shot.photo.sharp, pieces[0], layout, RulerLinear(BuiltInRuler().grey));
    ASSERT_TRUE(rough);
    const auto grid = FitGrid(shot.photo.sharp, pieces[0], *rough, layout);
    ASSERT_TRUE(grid);
    found = {pieces[0], *grid};
}

// A white-column profile with a lit band [start, end) of `level` over passes of `base`,
// blurred by sigma lines, 4 samples a line. The screen's own edges, where given, lie at
// line coordinates top and bottom (a grid may place them off), dark beyond.
WhiteProfile MadeProfile(double start, double end, double level, double base, double sigma, int height = 768,
                         std::optional<std::pair<double, double>> screen = std::nullopt) {
    WhiteProfile p;
    p.width = 1024;
    p.black = 0.01;
    const int rows = height * kSamplesPerLine, beyond = screen ? kBeyondLines * kSamplesPerLine : 0;
    for (int g = 0; g < 6; ++g) p.groupColumns.push_back(100 + 160 * g);
    cv::Mat1f all(rows + 2 * beyond, 6);
    for (int j = 0; j < all.rows; ++j) {
        const double u = (j - beyond + 0.5) / kSamplesPerLine;
        auto inside = [&](double a, double b) { return 0.5 * (std::erf((u - a) / (sigma * std::sqrt(2.0))) - std::erf((u - b) / (sigma * std::sqrt(2.0)))); };
        double lit = start < end ? inside(start, end) : inside(start, height + 10) + inside(-10, end);
        const double shown = screen ? inside(screen->first, screen->second) : 1;
        for (int g = 0; g < 6; ++g) all(j, g) = static_cast<float>(p.black + shown * (base + level * lit));
    }
    p.values = all.rowRange(beyond, beyond + rows).clone();
    p.above = all.rowRange(0, beyond).clone();
    p.below = all.rowRange(beyond + rows, all.rows).clone();
    return p;
}

// A white-column profile of a band lit once over a dark screen as a phosphor of one
// decay (tau lines) lights it: lines scanned d before the opening keep exp(-d / tau) of
// their light, lines scanned d before the closing lose as much; the screen's own edges cut
// it; all blurred by sigma lines.
WhiteProfile GlowProfile(double start, double end, double tau, double sigma, int height = 768) {
    constexpr int kFine = 16;  // steps a line
    auto kept = [&](double d) { return d <= 0 ? 1.0 : std::exp(-d / tau); };
    std::vector<double> sharp;
    const int margin = 10 * kFine;
    for (int i = -margin; i < height * kFine + margin; ++i) {
        const double u = (i + 0.5) / kFine;
        sharp.push_back(u < 0 || u >= height ? 0.0 : 0.8 * (kept(start - u) - kept(end - u)));
    }
    WhiteProfile p;
    p.width = 1024;
    p.black = 0.01;
    p.values.create(height * kSamplesPerLine, 6);
    for (int g = 0; g < 6; ++g) p.groupColumns.push_back(100 + 160 * g);
    const int reach = static_cast<int>(4 * sigma * kFine) + 1;
    for (int j = 0; j < p.values.rows; ++j) {
        const int at = static_cast<int>(std::lround((j + 0.5) * kFine / kSamplesPerLine)) + margin;
        double sum = 0, weights = 0;
        for (int k = -reach; k <= reach; ++k) {
            const double w = std::exp(-0.5 * std::pow(k / (sigma * kFine), 2));
            sum += w * sharp[at + k], weights += w;
        }
        for (int g = 0; g < 6; ++g) p.values(j, g) = static_cast<float>(p.black + sum / weights);
    }
    return p;
}

// The bars' shares of a line lit `counts` times in each phase, with `kept` of their
// contrast (blur takes the rest from their edges, evenly towards grey).
BarShares BarsOf(const std::array<int, kPhases>& counts, double kept = 1) {
    BarShares bars{};
    const double passes = std::accumulate(counts.begin(), counts.end(), 0);
    double upTo = 0;
    for (int j = 0; j < kBars; ++j) bars[j] = kept * (upTo += counts[j]) / passes + (1 - kept) / 2;
    return bars;
}


// Bar shares down 768 lines: those of `above` before line `start`, `inside` up to `end`,
// `below` after it, each with `kept` of their contrast and measured `seen` times too bright.
cv::Mat1f SharesAround(const std::array<int, kPhases>& above, const std::array<int, kPhases>& inside,
                       const std::array<int, kPhases>& below, int start, int end, double kept = 1, double seen = 1) {
    cv::Mat1f shares(768, kBars);
    for (int n = 0; n < 768; ++n) {
        const BarShares bars = BarsOf(n < start ? above : n < end ? inside : below, kept);
        for (int j = 0; j < kBars; ++j) shares(n, j) = static_cast<float>(seen * bars[j]);
    }
    return shares;
}

// A band on lines [start, end), lit once more than the rest's `passes`, whose levels' ratio
// reads `ratio`; the rest's shares taken over `before` and `after`.
Band BandOver(int passes, double ratio, double start, double end, std::pair<double, double> before,
              std::pair<double, double> after) {
    Band band;
    band.passes = passes, band.ratio = ratio;
    band.start = start, band.end = end, band.length = end - start;
    band.atStart = band.atEnd = {start, end};
    band.beforeStart = before, band.afterEnd = after;
    return band;
}

// The counts of passes a reading leaves open, for failure messages.
std::string CountsOpen(const BandPhases& phases) {
    std::string text;
    for (int m : phases.passCandidates) text += std::to_string(m) + " ";
    return text;
}

}  // namespace

TEST(Grid, FollowsTheScreenUnderRotationAndKeystone) {
    struct Case { double rotation, keystoneX, keystoneY; };
    for (Case c : {Case{0, 0, 0}, Case{3.5, 0.05, -0.04}, Case{-4, -0.06, 0.06}}) {
        const Shot shot = Take(c.rotation, c.keystoneX, c.keystoneY);
        Located found;
        ASSERT_NO_FATAL_FAILURE(Locate(shot, found)) << "rotation " << c.rotation;
        // Screen points of the band through the true geometry and back through the grid:
        // the same column, and the line off by an even number (the numbering's job).
        const cv::Matx33d back = found.grid.screenToPhoto.inv();
        double offset = NAN;
        for (double x : {50.0, 400.0, 512.0, 680.0, 980.0}) {
            for (double u : {310.0, 400.0, 490.0}) {
                const cv::Point2d p = Apply(back, Apply(shot.photograph.screenToPhoto, {x, u}));
                EXPECT_NEAR(x, p.x, 0.3) << "column at rotation " << c.rotation << ", line " << u;
                if (std::isnan(offset)) offset = std::round(u - p.y);
                EXPECT_NEAR(u - offset, p.y, 0.1) << "line " << u << " column " << x << " at rotation " << c.rotation;
            }
        }
        EXPECT_EQ(0, static_cast<int>(offset) % 2) << "offset " << offset << ": the stripes' parity";
        EXPECT_LT(found.grid.stripeResidual, 0.1);
    }
}

namespace {

// An 800 x 600 screen at 85 Hz photographed by a phone on its side reading out in 21 ms:
// a band of 120 lines from line 402 crossing the ruler on a steep slant.
Scene RollingOnItsSide() {
    Scene s;
    s.timing = ResolveTiming(800, 600, 85);
    s.placement = {{4087, 3668}, 4.13, 87.66, -0.0185, 0, {-164, 0}, 0.029};
    s.exposure = 120 * s.timing.LinePeriod();
    s.startLine = 402;
    s.shutter.slit = true, s.shutter.rolling = true, s.shutter.travel = -0.0211, s.shutter.axis = SlitAxis::kY;
    return s;
}

}  // namespace

TEST(Grid, ABandLightingOneEdgeStripAloneIsFittedWithTheRulersScale) {
    // A phone on its side reading out in 21 ms: where the band crosses the ruler it lights
    // one of its edge strips alone, which fixes the columns' place and direction but not
    // their scale, nor, along so thin a slant, the perspective; the ruler's match keeps both.
    Scene s = RollingOnItsSide();
    s.optics.blur = 2.5;
    const Photograph photograph = Simulate(BuiltInRuler(), s);
    const Photo photo = DecodePhoto(EncodeImage(photograph.image, "jpg", 90));
    const ScreenLayout layout = LayoutFor(800, 600);
    // The lit piece that holds the ruler's middle column on line 420, and its grid.
    const cv::Point2d middle = Apply(photograph.screenToPhoto, {layout.rulerLeft + kRulerWidth / 2.0, 420});
    std::optional<Grid> grid;
    for (const Piece& piece : FindLitRegions(photo.sharp)) {
        if (cv::pointPolygonTest(piece.outline, cv::Point2f(middle), false) <= 0) continue;
        for (const RoughGrid& rough : FindRulers(photo.sharp, piece, layout, RulerLinear(BuiltInRuler().grey)))
            if ((grid = FitGrid(photo.sharp, piece, rough, layout))) break;
    }
    ASSERT_TRUE(grid);
    // Across the ruler on the lines the band lights there, through the true geometry and
    // back through the grid: as far apart in columns and lines, either way round and up
    // (the numbering tells which), to a column, and to a line across the ruler's unlit side.
    const cv::Matx33d back = grid->screenToPhoto.inv();
    auto at = [&](double x, double u) { return Apply(back, Apply(photograph.screenToPhoto, {layout.rulerLeft + x, u})); };
    const cv::Point2d origin = at(0, 380);
    for (double x : {0.0, 165.0, 330.0}) {
        for (double u : {380.0, 420.0, 460.0}) {
            const cv::Point2d p = at(x, u) - origin;
            EXPECT_NEAR(x, std::abs(p.x), 1.0) << "ruler column " << x << ", line " << u;
            EXPECT_NEAR(u - 380, std::abs(p.y), 1.0) << "ruler column " << x << ", line " << u;
        }
    }
}

TEST(Grid, TheTenthLinesTicksHoldItWhereBlurTookTheStripes) {
    // 1.3 lines of blur: the stripes keep a few per cent of their contrast, the ticks most.
    const Shot shot = Take(-2.5, 0.02, -0.02, 300, 200, 3.2);
    Located found;
    ASSERT_NO_FATAL_FAILURE(Locate(shot, found));
    EXPECT_LT(found.grid.modulation, kFaintestStripes);
    EXPECT_EQ(10, found.grid.period) << "the ticks know the lines modulo ten";
    const cv::Matx33d back = Inverse(found.grid.screenToPhoto);
    double offset = NAN;
    for (double x : {60.0, 512.0, 960.0}) {
        for (double u : {310.0, 400.0, 490.0}) {
            const cv::Point2d p = Apply(back, Apply(shot.photograph.screenToPhoto, {x, u}));
            EXPECT_NEAR(x, p.x, 0.5) << "column at line " << u;
            if (std::isnan(offset)) offset = std::round(u - p.y);
            EXPECT_NEAR(u - offset, p.y, 0.2) << "line " << u << " column " << x;
        }
    }
    EXPECT_EQ(0, static_cast<int>(offset) % 10) << "offset " << offset;
    const auto numbering = NumberLines(shot.photo.sharp, found.grid, LayoutFor(1024, 768), RulerLinear(BuiltInRuler().grey));
    ASSERT_TRUE(numbering);
    EXPECT_TRUE(numbering->certain) << "mismatch " << numbering->mismatch << " runner-up " << numbering->runnerUp;
    EXPECT_EQ(offset, numbering->offset);
}

TEST(Grid, APitchSomePerCentOffAtFirstStillNumbersEveryLine) {
    // A raster 6 % narrower than its mode's shape puts the first guess of the lines'
    // pitch that far off; over two refreshes the whole screen is lit, and the stripes,
    // whose phase comes round every two lines, must follow the ticks, not each other.
    const Shot shot = Take(-3.5, 0, -0.02, 500, 1065, 0.9, -0.059);
    Located found;
    ASSERT_NO_FATAL_FAILURE(Locate(shot, found));
    const cv::Matx33d back = Inverse(found.grid.screenToPhoto);
    const auto numbering = NumberLines(shot.photo.sharp, found.grid, LayoutFor(1024, 768), RulerLinear(BuiltInRuler().grey));
    ASSERT_TRUE(numbering);
    EXPECT_TRUE(numbering->certain) << "mismatch " << numbering->mismatch << " runner-up " << numbering->runnerUp;
    for (double u : {40.0, 200.0, 400.0, 600.0, 740.0}) {
        const cv::Point2d p = Apply(back, Apply(shot.photograph.screenToPhoto, {512, u}));
        EXPECT_NEAR(u, p.y + numbering->offset, 0.3) << "line " << u << ", offset " << numbering->offset;
    }
}

TEST(Grid, TheFifthLinesTicksHoldABandTooShortForTwoTenths) {
    // 22 and 16 lines under 0.9 lines of blur: the stripes keep a few per cent of their
    // contrast, the band holds two or three tenth-line ticks, fewer whole, and the pitch
    // comes from the ticks of every fifth line between them.
    for (double lines : {22.0, 16.0}) {
        const Shot shot = Take(1.5, 0.015, -0.02, 412, lines, 2.2, 0.04);
        Located found;
        ASSERT_NO_FATAL_FAILURE(Locate(shot, found)) << lines << " lines";
        EXPECT_LT(found.grid.modulation, kFaintestStripes) << lines << " lines";
        EXPECT_EQ(10, found.grid.period) << lines << " lines: the ticks know the lines modulo ten";
        const cv::Matx33d back = Inverse(found.grid.screenToPhoto);
        double offset = NAN;
        for (double x : {60.0, 512.0, 960.0}) {
            for (double u : {412.0, 412 + lines / 2, 412 + lines}) {
                const cv::Point2d p = Apply(back, Apply(shot.photograph.screenToPhoto, {x, u}));
                // The columns' perspective is held by the ruler's two edge strips alone: far
                // from them, a few columns off, which moves no line.
                EXPECT_NEAR(x, p.x, x == 512 ? 0.5 : 3) << lines << " lines: column at line " << u;
                if (std::isnan(offset)) offset = std::round(u - p.y);
                EXPECT_NEAR(u - offset, p.y, 0.2) << lines << " lines: line " << u << " column " << x;
            }
        }
        EXPECT_EQ(0, static_cast<int>(offset) % 10) << lines << " lines: offset " << offset;
    }
}

TEST(Numbering, LabelsTellTheLinesAndABandWithoutOneIsNotNumbered) {
    const Shot labelled = Take(2, 0.02, 0, 300, 120);  // holds the labels 350 and 400
    Located found;
    ASSERT_NO_FATAL_FAILURE(Locate(labelled, found));
    auto numbering = NumberLines(labelled.photo.sharp, found.grid, LayoutFor(1024, 768), RulerLinear(BuiltInRuler().grey));
    ASSERT_TRUE(numbering);
    const cv::Point2d p = Apply(found.grid.screenToPhoto.inv(), Apply(labelled.photograph.screenToPhoto, {512, 350}));
    EXPECT_TRUE(numbering->certain) << "mismatch " << numbering->mismatch << " runner-up " << numbering->runnerUp;
    EXPECT_NEAR(350, p.y + numbering->offset, 0.1) << "offset " << numbering->offset;

    const Shot bare = Take(2, 0.02, 0, 114, 22);  // lines 114..135: between the labels 100 and 150
    ASSERT_NO_FATAL_FAILURE(Locate(bare, found));
    numbering = NumberLines(bare.photo.sharp, found.grid, LayoutFor(1024, 768), RulerLinear(BuiltInRuler().grey));
    EXPECT_FALSE(numbering && numbering->certain) << "offset " << (numbering ? numbering->offset : 0);
}

TEST(Numbering, ABandCrossingTheRulerSteeplyIsNumberedByTheLabelsItLights) {
    // A phone on its side reading out in 21 ms: the band crosses the ruler at some 1.3
    // lines a column, lighting each of its rows over part of its width, and the labels 300
    // to 500 on a slant. The grid fitted to so thin a slant of the ruler may be a per cent
    // off in pitch (here the one that made the photograph, stretched by as much about line
    // 400, and 200 lines off as the ticks leave it): the places it misplaces weigh alike for
    // every offset, and only the labels tell offsets a hundred lines apart.
    Scene s = RollingOnItsSide();
    s.optics = {2.49, 0.34, 0.011, 1.08, 1.03, {}};
    s.housing = {21, 66, 4.2, 1};
    s.sensor = {1, 19500, 2.2, false, 20, 0.92, 1.08};
    s.gain = 0.95;
    s.beamSpot = 0.34;
    const Photograph photograph = Simulate(BuiltInRuler(), s);
    const Photo photo = DecodePhoto(EncodeImage(photograph.image, "jpg", 90));
    const ScreenLayout layout = LayoutFor(800, 600);
    constexpr double kStretch = 0.01;
    Grid grid;
    grid.screenToPhoto = photograph.screenToPhoto * cv::Matx33d(1, 0, 0, 0, 1 + kStretch, 200 - 400 * kStretch, 0, 0, 1);
    grid.period = 10;
    // The lit piece that holds the ruler's middle column on line 420.
    const cv::Point2d middle = Apply(photograph.screenToPhoto, {layout.rulerLeft + kRulerWidth / 2.0, 420});
    std::optional<Piece> crossing;
    for (const Piece& piece : FindLitRegions(photo.sharp))
        if (cv::pointPolygonTest(piece.outline, cv::Point2f(middle), false) > 0) crossing = piece;
    ASSERT_TRUE(crossing);
    std::tie(grid.firstU, grid.lastU) = LineExtent(*crossing, grid.screenToPhoto);
    const auto numbering = NumberLines(photo.sharp, grid, layout, RulerLinear(BuiltInRuler().grey));
    ASSERT_TRUE(numbering);
    EXPECT_EQ(200, numbering->offset);
    EXPECT_FALSE(numbering->flipLines || numbering->flipColumns);
    EXPECT_TRUE(numbering->certain) << "mismatch " << numbering->mismatch << " runner-up " << numbering->runnerUp;

    // The same grid some columns off: another offset's labels, or the mirrored ruler's,
    // may then match a little better than the right ones, but not so much better that the
    // lines are numbered for certain.
    for (double off : {4.0, 5.0, 6.0, 8.0}) {
        Grid shifted = grid;
        shifted.screenToPhoto = grid.screenToPhoto * cv::Matx33d(1, 0, off, 0, 1, 0, 0, 0, 1);
        const auto n = NumberLines(photo.sharp, shifted, layout, RulerLinear(BuiltInRuler().grey));
        if (!n || !n->certain) continue;
        EXPECT_EQ(200, n->offset) << off << " columns off";
        EXPECT_FALSE(n->flipLines || n->flipColumns) << off << " columns off";
    }
}

TEST(Band, EdgesLevelsAndWrapsOfMadeProfiles) {
    // A band lit once over a dark screen.
    auto band = FindBand(MadeProfile(211.3, 486.0, 0.8, 0, 0.4));
    ASSERT_TRUE(band);
    EXPECT_EQ(0, band->passes);
    EXPECT_NEAR(211.3, band->start, 0.1);
    EXPECT_NEAR(486.0, band->end, 0.1);
    EXPECT_NEAR(274.7, band->length, 0.1);
    EXPECT_FALSE(band->wraps || band->startAtTop || band->endAtBottom);
    // Lines lit three times beside lines lit twice, over the bottom to the top.
    band = FindBand(MadeProfile(600.5, 120.25, 0.2, 0.4, 0.5));
    ASSERT_TRUE(band);
    EXPECT_EQ(2, band->passes);
    EXPECT_TRUE(band->wraps);
    EXPECT_NEAR(600.5, band->start, 0.1);
    EXPECT_NEAR(120.25, band->end, 0.1);
    EXPECT_NEAR(768 - 600.5 + 120.25, band->length, 0.1);
    // Lit four times but for two lines lit three times: the thin part's level from its area.
    band = FindBand(MadeProfile(440.2, 438.3, 0.2, 0.6, 0.6));
    ASSERT_TRUE(band);
    EXPECT_EQ(3, band->passes) << "thin part between " << band->end << " and " << band->start;
    EXPECT_NEAR(440.2, band->start, 0.3);
    EXPECT_NEAR(438.3, band->end, 0.3);
    // A band from the screen's top: the opening was in the blanking.
    band = FindBand(MadeProfile(-5, 150.5, 0.8, 0, 0.4));
    ASSERT_TRUE(band);
    EXPECT_TRUE(band->startAtTop);
    EXPECT_NEAR(150.5, band->end, 0.1);
    // No step at all.
    EXPECT_FALSE(FindBand(MadeProfile(0, 0, 0, 0.7, 0.4)));
}

TEST(Band, AnOpeningOnTheFirstLinesIsToldFromOneInTheBlanking) {
    // Opened on line 5 of a phosphor decaying over 3 lines: the glow before the opening
    // crosses the half-level within 5 lines of the top, yet the band starts on the screen.
    auto band = FindBand(GlowProfile(5, 300, 3, 0.6));
    ASSERT_TRUE(band);
    EXPECT_FALSE(band->startAtTop) << "start " << band->start;
    EXPECT_NEAR(295, band->length, 0.3);
    // Opened in the blanking: the top is lit evenly but for the screen's blurred edge.
    band = FindBand(GlowProfile(-20, 300, 3, 0.6));
    ASSERT_TRUE(band);
    EXPECT_TRUE(band->startAtTop) << "start " << band->start;
    // Opened on the first line, the glow hidden in the edge's blur: not told, so the start
    // is left at the top with the blanking's doubt, never read as if seen.
    band = FindBand(GlowProfile(0.6, 300, 1.5, 1.0));
    ASSERT_TRUE(band);
    EXPECT_TRUE(band->startAtTop) << "start " << band->start;
    EXPECT_GE(band->startTo, 0.6 - 1.5 * std::log(2.0) - 1) << "the latest opening allowed";
}

TEST(Band, AWrappedBandIsMeasuredFromTheScreensOwnEdges) {
    // Parts of 20 and 30 lines at the top and the bottom of the screen, which the grid
    // places some lines off and stretched by some per mil, as the lens's distortion does far
    // from the ruler, the screen's own edges inside the profile or beyond it.
    for (const auto& placed : {std::pair(2.5, 0.995), std::pair(-1.5, 1.004)}) {
        auto grid = [&](double u) { return placed.first + placed.second * u; };
        const auto band = FindBand(MadeProfile(grid(738), grid(20), 0.8, 0, 0.6, 768, std::pair(grid(0), grid(768))));
        ASSERT_TRUE(band);
        EXPECT_TRUE(band->wraps);
        EXPECT_NEAR(50, band->length, 0.2) << "the screen from " << grid(0) << " to " << grid(768);
    }
}

TEST(Band, AGentleStartIsLookedForWhereTheScreensLastLinesAreLitAsTheBand) {
    // Twelve passes beside eleven, over the bottom to the top: the end a sharp step of 4 %,
    // the start spread over some tens of lines by the slow light of the pass before it, no
    // window's step there reaching the least one. The screen's last lines, lit as the band
    // is, tell that the band went on over the blanking.
    WhiteProfile profile = MadeProfile(563.2, 287.4, 0.85 / 12, 0.85 * 11 / 12, 0.5);
    const double gentle = 12;  // lines: the start's spread
    for (int j = 0; j < profile.values.rows; ++j) {
        const double u = (j + 0.5) / kSamplesPerLine;
        if (u < 400) continue;
        const double lit = 0.5 * (1 + std::erf((u - 563.2) / (gentle * std::sqrt(2.0))));
        for (int g = 0; g < profile.values.cols; ++g) profile.values(j, g) = static_cast<float>(profile.black + 0.85 * (11 + lit) / 12);
    }
    const auto band = FindBand(profile);
    ASSERT_TRUE(band);
    EXPECT_TRUE(band->wraps) << "from " << band->start << " to " << band->end << (band->startAtTop ? ", from the top" : "");
    EXPECT_NEAR(563.2, band->start, 1);
    EXPECT_NEAR(287.4, band->end, 0.3);
    EXPECT_NEAR(768 - 563.2 + 287.4, band->length, 1);
}

// A profile of a dark screen (black 0.01, room light `rest` on it) whose lines from
// `start` on were lit by a pass closed at `close`, in the blanking: the fast light of the
// lines scanned d lines before it cut to 1 - exp(-d / tau); the screen's own edges blurred.
WhiteProfile ClosedInTheBlanking(double start, double close, double tau, double rest, int height = 768) {
    WhiteProfile p = MadeProfile(start, height + 10, 0.8, rest, 0.5, height);
    for (int j = 0; j < p.values.rows; ++j) {
        const double u = (j + 0.5) / kSamplesPerLine;
        const double kept = u < start ? 1 : 1 - std::exp(-(close - u) / tau);
        const double edge = 0.5 * std::erfc((u - height) / (0.5 * std::sqrt(2.0)));
        for (int g = 0; g < p.values.cols; ++g)
            p.values(j, g) = static_cast<float>(p.black + edge * (rest + (p.values(j, g) - p.black - rest) * kept));
    }
    return p;
}

TEST(Band, AnEndInTheBlankingIsNotTheDecaysFallBeforeIt) {
    // Closed a line and seven lines past the bottom, the fast light decaying over 6 and 8
    // lines: the last lines dim down to the screen's edge, their fall's middle some lines
    // above it, yet they never fall to the unlit rest's level.
    for (const auto& [close, tau] : {std::pair(769.2, 8.0), std::pair(775.0, 6.0)}) {
        const auto band = FindBand(ClosedInTheBlanking(702.9, close, tau, 0.004));
        ASSERT_TRUE(band) << close;
        EXPECT_TRUE(band->endAtBottom) << "closed at " << close << ": end read at " << band->end;
    }
    // Closed on the screen twelve lines above the bottom: the lines after it go dark.
    const auto band = FindBand(MadeProfile(702.9, 756.0, 0.8, 0.004, 0.5));
    ASSERT_TRUE(band);
    EXPECT_FALSE(band->endAtBottom);
    EXPECT_NEAR(756.0, band->end, 0.3);
}

TEST(Band, LightOnADarkScreensTopIsNoPartOfABandOverTheBlanking) {
    // A band on the last 11 lines, closed in the blanking; the bezel's light, with the grid
    // placing the screen's top 11 lines off so far from the ruler, lifts the first lines
    // to 5 % of white: a fall there, a small share of the band's step.
    WhiteProfile profile = ClosedInTheBlanking(757.1, 780.0, 4, 0.004);
    for (int j = 0; j < 11 * kSamplesPerLine; ++j)
        for (int g = 0; g < profile.values.cols; ++g) profile.values(j, g) += 0.04f;
    const auto band = FindBand(profile);
    ASSERT_TRUE(band);
    EXPECT_FALSE(band->wraps) << "from " << band->start << " to " << band->end;
    EXPECT_TRUE(band->endAtBottom);
    EXPECT_NEAR(757.1, band->start, 0.3);
}

TEST(Band, ABrightRimAlongTheScreensTopAndBottomIsNoFaintBandsEdge) {
    // Thirty-one passes beside thirty, over the bottom to the top: a step of 3 %. Ringing
    // along the screen's own top and bottom, where the black border meets the white,
    // leaves the lines next to them 4 % brighter than the rest: a larger step than the band's.
    WhiteProfile profile = MadeProfile(420.4, 86.3, 0.85 / 31, 0.85 * 30 / 31, 0.5);
    // Of the level, line by line: the screen's first four lines and its last four.
    const double top[] = {0.2, 1.04, 1.04, 1.0}, bottom[] = {1.0, 1.04, 1.04, 0.2};
    for (int j = 0; j < profile.values.rows; ++j) {
        const int n = j / kSamplesPerLine;
        const double of = n < 4 ? top[n] : n >= 764 ? bottom[n - 764] : 1;
        for (int g = 0; g < profile.values.cols; ++g)
            profile.values(j, g) = static_cast<float>(profile.black + (profile.values(j, g) - profile.black) * of);
    }
    const auto band = FindBand(profile, true);
    ASSERT_TRUE(band);
    EXPECT_TRUE(band->wraps) << "from " << band->start << " to " << band->end;
    EXPECT_NEAR(420.4, band->start, 0.3);
    EXPECT_NEAR(86.3, band->end, 0.3);
}

TEST(ChangeZone, RampOfTheChangedBarGivesLengthAndResponse) {
    // Phase 2 replaces phase 1 on lines scanned from 200.4 for 150 lines (a refresh that
    // shows phase 2 begins before the opening), through a panel whose 10-90 % response is
    // 4.4 lines. The simulator's light gives bar 2's share: the light of phases 0 and 1.
    const Timing timing = ResolveTiming(1024, 768, 85);
    const double line = timing.LinePeriod(), start = 200.4, length = 150, response = 4.4;
    const Window window{timing.FramePeriod(), length * line, Schedule{2, {1}}};
    const WindowWeights light = LcdWeights(response * line, window, -800 * line, 800 * line, line / 8);
    cv::Mat1f shares(768, kBars);
    for (int n = 0; n < 768; ++n) {
        const double sigma = (n + 0.4 - start) * line;  // the bars' column is scanned 0.4 of a line in
        const double old = light.At(0, 0, sigma) + light.At(0, 1, sigma);
        shares(n, 0) = 0, shares(n, 1) = static_cast<float>(old), shares(n, 2) = 1, shares(n, 3) = 1;
    }
    std::string why;
    const auto zone = FindChangeZone(shares, 512, 1024, 808, why);
    ASSERT_TRUE(zone) << why;
    EXPECT_EQ(2, zone->firstPhase);
    EXPECT_EQ(2, zone->lastPhase);
    EXPECT_EQ(1, zone->refreshes);
    EXPECT_NEAR(length, zone->length, 0.2);
    EXPECT_NEAR(start, zone->start, 0.2);
    EXPECT_NEAR(response, zone->response, 0.2);

    cv::Mat1f still(768, kBars, 1.0f);
    EXPECT_FALSE(FindChangeZone(still, 512, 1024, 808, why));
    EXPECT_NE(std::string::npos, why.find("did not change")) << why;
}

TEST(Bars, SharesBecomePassesByPhase) {
    // Bar j is white in phases below j: two passes, of phases 1 and 3.
    const BarShares bars{0.0, 0.5, 0.5, 1.0};
    EXPECT_EQ((PhaseCounts{0, 1, 0, 1, 0}), CountPhases(bars, 2).value());
    EXPECT_EQ((PhaseCounts{0, 0, 1, 0, 0}), CountPhases({0, 0, 1, 1}, 1).value());
    EXPECT_EQ((PhaseCounts{0, 0, 0, 0, 1}), CountPhases({0, 0, 0, 0}, 1).value());
    EXPECT_FALSE(CountPhases({0.0, 0.3, 0.5, 1.0}, 2)) << "0.3 of two passes is no whole pass";
    EXPECT_FALSE(CountPhases(bars, 0));
}

// The passes of each phase that line n (1..768) saw in a leaf shutter's window, at the
// screen's middle column.
PhaseCounts PassesOfLine(const Scene& s, int n) {
    PhaseCounts counts{};
    const double line = s.timing.LinePeriod(), frame = s.timing.FramePeriod();
    const double opening = (s.startLine - 1) * line, closing = opening + s.exposure;
    const double within = (n - 1 + kActiveLineShare / 2) * line;
    for (long k = static_cast<long>(std::floor((opening - within) / frame)); k * frame + within < closing; ++k)
        if (k * frame + within >= opening) ++counts[s.schedule.Phase(k)];
    return counts;
}

TEST(Bars, SharesHoldThroughBlurAndVignetting) {
    // A quarter of a second at 85 Hz: some twenty passes on every line, which the bars
    // count only where their shares hold to a few thousandths. Blur of a line spills the
    // white beside a bar into its middle, and vignetting dims the white across the row of
    // bars by about a per cent.
    Scene s;
    s.placement = {{2900, 2200}, 2.4, 1.5, 0.01, -0.01, {30, -20}, 0};
    s.optics = {1.0 * 2.4, 0.35, 0.01};
    s.beamSpot = 0.45;
    s.startLine = 300;
    s.exposure = 0.25;
    const Photograph photograph = Simulate(BuiltInRuler(), s);
    const Photo photo = DecodePhoto(EncodeImage(photograph.image, "png", 90));
    const ScreenView view{{{photograph.screenToPhoto, 0, 768}}};
    const cv::Mat1f shares = BarSharesByLine(photo.sharp, view, ColumnsFor(LayoutFor(1024, 768)), 768);
    for (const auto& [from, to] : {std::pair{40, 280}, std::pair{320, 480}, std::pair{520, 760}}) {
        const PhaseCounts counts = PassesOfLine(s, from);
        ASSERT_EQ(counts, PassesOfLine(s, to)) << "lines " << from << " to " << to << " must see the same passes";
        const BarShares truth = BarsOf(counts), measured = MeanShares(shares, from, to).value();
        for (int j = 0; j < kBars; ++j)
            EXPECT_NEAR(truth[j], measured[j], 0.003) << "bar " << j + 1 << ", lines " << from << " to " << to;
    }
}

TEST(Phases, ManyPassesWhoseSharesCountNoWholePassStillShowThePhaseAdded) {
    // Twelve passes outside the band, thirteen inside, from phase 2 to phase 4: the lines
    // above the band miss the first pass, those below the last. The bars lose 8 % of their
    // contrast, as blur takes it from their edges, so that no region counts whole passes.
    const std::array<int, kPhases> inside{2, 2, 3, 3, 3}, above{2, 2, 2, 3, 3}, below{2, 2, 3, 3, 2};
    const cv::Mat1f shares = SharesAround(above, inside, below, 300, 500, 0.92);
    ASSERT_FALSE(CountPhases(BarsOf(inside, 0.92), 13)) << "the test's shares must count no whole passes";
    const BandPhases phases = PhasesOfBand(shares, BandOver(12, 13.0 / 12, 300, 500, {100, 300}, {500, 700}));
    EXPECT_EQ(std::optional(2), phases.first) << "passes " << phases.passes;
    EXPECT_EQ(std::optional(4), phases.last) << "passes " << phases.passes;
}

TEST(Phases, ALevelsRatioAsAJpegLeavesItKeepsTheTrueCountOpen) {
    // Forty-two passes outside the band, forty-three inside, from phase 1 to phase 3. The
    // JPEG's coarse step for each flat area's mean puts the levels' ratio at 1.0317 for a
    // true 43 / 42 = 1.0238: by itself, 31 or 32 passes.
    const std::array<int, kPhases> inside{8, 9, 9, 9, 8}, above{8, 8, 9, 9, 8}, below{8, 9, 9, 8, 8};
    const BandPhases phases =
        PhasesOfBand(SharesAround(above, inside, below, 160, 500), BandOver(32, 1.0317, 160, 500, {0, 160}, {500, 768}));
    const std::string counts = CountsOpen(phases);
    EXPECT_NE(phases.passCandidates.end(), std::find(phases.passCandidates.begin(), phases.passCandidates.end(), 42))
        << "counts left open: " << counts;
    for (int m : phases.passCandidates) EXPECT_EQ(2, m % 5) << "the bars count 42 passes modulo five: " << counts;
}

TEST(Phases, SharesOfAWhiteKnownOnlyToAFewPerCentAreCountedAtTheScaleThatFitsWithinIt) {
    // Eleven passes outside the band, twelve inside, from phase 3 to phase 0, the bars
    // measured against a white 4 % too bright (as the stripes' may be): the true shares lie
    // between 1 and 1.07 times those seen. Read as they are, they leave 11 or 12 open.
    const std::array<int, kPhases> inside{3, 2, 2, 3, 2}, above{3, 2, 2, 2, 2}, below{2, 2, 2, 3, 2};
    const cv::Mat1f shares = SharesAround(above, inside, below, 200, 450, 1, 1 / 1.04);
    Band band = BandOver(11, 12.0 / 11, 200, 450, {0, 200}, {450, 768});
    const BandPhases asSeen = PhasesOfBand(shares, band);
    ASSERT_GT(asSeen.passCandidates.size(), 1u) << "as seen, the test's shares must leave the count open: " << CountsOpen(asSeen);
    band.leastShareScale = 1, band.mostShareScale = 1.07;
    const BandPhases phases = PhasesOfBand(shares, band);
    EXPECT_EQ(std::vector<int>{11}, phases.passCandidates) << "counts left open: " << CountsOpen(phases);
    EXPECT_EQ(std::optional(3), phases.first);
    EXPECT_EQ(std::optional(0), phases.last);
}

TEST(Bars, TheStripesMeanOverTwoLinesLeavesNoRippleHoweverSharpOrPlaced) {
    // Stripes a line each, white and black, blurred to keep anything from a tenth to all of
    // their contrast (with a sharp step's third harmonic), sampled four times a line from
    // any offset: every sample's mean over two lines lies half way, less the ends'.
    for (double contrast : {0.1, 0.5, 1.0})
        for (double offset : {0.0, 0.1, 0.3}) {
            std::vector<float> samples;
            for (int i = 0; i < 400; ++i) {
                const double phase = CV_PI * (i / 4.0 + offset);
                samples.push_back(static_cast<float>(0.5 + 0.4 * contrast * (std::cos(phase) + std::cos(3 * phase) / 3)));
            }
            const std::vector<float> mean = StripesMean(samples, 4);
            ASSERT_EQ(samples.size(), mean.size());
            for (std::size_t i = 4; i + 4 < mean.size(); ++i)
                ASSERT_NEAR(0.5, mean[i], 1e-5) << "contrast " << contrast << ", offset " << offset << ", sample " << i;
        }
}

TEST(Phases, AShortBandsLevelOnlyBoundsTheCountFromAbove) {
    // Four passes outside a band of seven lines, five inside, from phase 4 round to phase
    // 3. The phosphor's light of the last pass, cut short on the band's last lines, leaves
    // it 8 % brighter than the rest instead of 25 %: a level that alone would ask ten or more.
    const std::array<int, kPhases> inside{1, 1, 1, 1, 1}, above{1, 1, 1, 1, 0}, below{1, 1, 1, 0, 1};
    const BandPhases phases =
        PhasesOfBand(SharesAround(above, inside, below, 544, 551), BandOver(12, 1.08, 544, 551, {300, 544}, {551, 760}));
    const std::string counts = CountsOpen(phases);
    EXPECT_NE(phases.passCandidates.end(), std::find(phases.passCandidates.begin(), phases.passCandidates.end(), 4))
        << "counts left open: " << counts;
}

TEST(Reading, ASteepSlantIsReadAlongItsBand) {
    // A cloth shutter crossing the photo in 11 or 13 ms drops the band some 600 lines
    // across the screen, through the blanking: the ruler shows only where a lit stretch
    // crosses it, on a slant, far from the stretch's middle.
    struct Case { double start, travel; };
    for (Case c : {Case{550, 0.013}, Case{550, -0.011}, Case{200, 0.013}}) {
        Scene s;
        s.timing = ResolveTiming(800, 600, 85);
        s.placement = {{2800, 2100}, 3.2, -2, 0, 0, {0, 0}};
        s.optics.blur = 1.5;
        s.exposure = 0.004;
        s.startLine = c.start;
        s.shutter = {true, c.travel};
        const Photograph photograph = Simulate(BuiltInRuler(), s);
        const Truth truth = TruthOf(s, photograph.screenToPhoto);
        ReadOptions options;
        options.width = 800, options.height = 600, options.refreshHz = 85;
        const Reading r = ReadPhoto(DecodePhoto(EncodeImage(photograph.image, "jpg", 90)), options);
        ASSERT_TRUE(r.exposureLines && r.uncertaintyLines) << "start " << c.start << ", travel " << c.travel;
        const double error = *r.exposureLines - truth.exposureLines;
        EXPECT_LE(std::abs(error), std::max(1.0, 0.01 * truth.exposureLines)) << "start " << c.start << ", travel " << c.travel;
        EXPECT_LE(std::abs(error), *r.uncertaintyLines) << "start " << c.start << ", travel " << c.travel;
        ASSERT_TRUE(r.slantLines);
        EXPECT_NEAR(truth.slantLines, *r.slantLines, std::max(3.0, 0.1 * std::abs(truth.slantLines)))
            << "start " << c.start << ", travel " << c.travel;
    }
}

TEST(Reading, ARollingReadoutSlantedByMoreThanARefreshIsRead) {
    // A phone on its side, reading out in 30 ms: the band drops some 1150 lines across the
    // screen, over 1.4 lines a column, so that its edges move several lines across each
    // group of columns whose light is taken.
    Scene s;
    s.timing = ResolveTiming(800, 600, 72);
    s.placement = {{2400, 3200}, 3.2, 272, 0, 0, {0, 0}};
    s.optics.blur = 1.2;
    s.exposure = 0.006;
    s.startLine = 300;
    s.shutter.slit = true, s.shutter.rolling = true, s.shutter.travel = 0.030, s.shutter.axis = SlitAxis::kY;
    const Photograph photograph = Simulate(BuiltInRuler(), s);
    const Truth truth = TruthOf(s, photograph.screenToPhoto);
    ReadOptions options;
    options.width = 800, options.height = 600, options.refreshHz = 72;
    const Reading r = ReadPhoto(DecodePhoto(EncodeImage(photograph.image, "jpg", 90)), options);
    ASSERT_TRUE(r.exposureLines && r.uncertaintyLines) << (r.notes.empty() ? "" : r.notes.back());
    EXPECT_NEAR(truth.exposureLines, *r.exposureLines, std::min(*r.uncertaintyLines, 0.01 * truth.exposureLines));
}

TEST(Reading, ARollingReadoutSteeperThanThreeLinesAColumnIsRead) {
    // A phone on its side reading out in 32 ms, the screen filling the frame: the band drops
    // some 3200 lines across the screen, over three lines a column, and crosses the ruler
    // nearly along its length; its light across the ruler and its ticks are followed along
    // the slant as they are at a gentler one.
    for (double start : {300.0, 400.0}) {
        Scene s;
        s.timing = ResolveTiming(1024, 768, 85);
        s.placement = {{2257, 1781}, 2.65, 268.7, 0.012, -0.023, {-10, -208}, -0.048};
        s.optics.blur = 1.86;
        s.exposure = 0.0048;
        s.startLine = start;
        s.shutter.slit = true, s.shutter.rolling = true, s.shutter.travel = 0.0323, s.shutter.axis = SlitAxis::kY;
        const Photograph photograph = Simulate(BuiltInRuler(), s);
        const Truth truth = TruthOf(s, photograph.screenToPhoto);
        ASSERT_GT(std::abs(truth.slantLines), 3 * 1024);
        ReadOptions options;
        options.refreshHz = 85;
        const Reading r = ReadPhoto(DecodePhoto(EncodeImage(photograph.image, "jpg", 90)), options);
        ASSERT_TRUE(r.exposureLines && r.uncertaintyLines) << "start " << start << ": " << (r.notes.empty() ? "" : r.notes.back());
        EXPECT_NEAR(truth.exposureLines, *r.exposureLines, std::min(*r.uncertaintyLines, 0.03 * truth.exposureLines)) << "start " << start;
        ASSERT_TRUE(r.slantLines);
        EXPECT_NEAR(truth.slantLines, *r.slantLines, 0.1 * std::abs(truth.slantLines)) << "start " << start;
    }
}

TEST(Reading, ABandCrossingTheRulerSoSteeplyThatItsSidesSeeOtherLinesIsNumbered) {
    // A phone on its side reading out in 27 ms: the band drops 1.7 lines a column and lights
    // lines on the ruler's right side that its left side does not show. Each side's stripes,
    // aligned to the tenths' ticks some columns away, may slip a period (two lines) on the
    // grid's first tilt; the grid that fits every track at once puts them back.
    Scene s;
    s.timing = ResolveTiming(1024, 768, 75);
    s.placement = {{3243, 3479}, 3.86, 268.17, -0.0189, -0.0172, {3, 85}, -0.038};
    s.optics.blur = 1.84;
    s.optics.vignetting = 0.32;
    s.optics.lens.k1 = 0.0063;
    s.exposure = 0.0023;
    s.startLine = 331.8;
    s.shutter.slit = true, s.shutter.rolling = true, s.shutter.travel = -0.0268, s.shutter.axis = SlitAxis::kY;
    const Photograph photograph = Simulate(BuiltInRuler(), s);
    const Truth truth = TruthOf(s, photograph.screenToPhoto);
    ReadOptions options;
    options.width = 1024, options.height = 768, options.refreshHz = 75;
    const Reading r = ReadPhoto(DecodePhoto(EncodeImage(photograph.image, "jpg", 90)), options);
    EXPECT_TRUE(r.labelSeen) << (r.notes.empty() ? "" : r.notes.front());
    ASSERT_TRUE(r.exposureLines && r.uncertaintyLines) << (r.notes.empty() ? "" : r.notes.back());
    EXPECT_NEAR(truth.exposureLines, *r.exposureLines, 0.03 * truth.exposureLines);
    ASSERT_TRUE(r.firstLine && truth.firstLine);
    EXPECT_NEAR(*truth.firstLine, *r.firstLine, 3);
}

TEST(Reading, APatternTooSmallOrTooBlurredIsRefusedAndSaysWhich) {
    struct Case {
        double scale, blur;
        const char* why;
    };
    for (Case c : {Case{1.3, 0.5, "too small"}, Case{2.2, 9.0, "too blurred"}}) {
        Scene s;
        s.placement = {{2600, 2000}, c.scale, 1, 0, 0, {0, 0}};
        s.optics = {c.blur, 0.1, 0.01};
        s.exposure = 0.004;
        const Photo photo = DecodePhoto(EncodeImage(Simulate(BuiltInRuler(), s).image, "jpg", 90));
        try {
            const Reading r = ReadPhoto(photo, ReadOptions{});
            ADD_FAILURE() << "read " << r.exposureLines.value_or(-1) << " lines at scale " << c.scale << ", blur " << c.blur;
        } catch (const ReadError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(c.why)) << error.what();
        }
    }
}

TEST(Reading, LeafAndFocalPlaneShuttersGiveTheirSlant) {
    for (double travel : {0.0, 0.0015, -0.001}) {
        Scene s;
        s.placement = {{2800, 2100}, 2.5, -1.5, 0.03, 0, {0, 0}};
        s.exposure = 0.003;
        s.shutter = {travel != 0, travel};
        const Photograph photograph = Simulate(BuiltInRuler(), s);
        const Truth truth = TruthOf(s, photograph.screenToPhoto);
        const Reading r = ReadPhoto(DecodePhoto(EncodeImage(photograph.image, "jpg", 90)), ReadOptions{});
        ASSERT_TRUE(r.slantLines && r.exposureLines) << "travel " << travel;
        EXPECT_NEAR(truth.slantLines, *r.slantLines, 1.0) << "travel " << travel;
        EXPECT_NEAR(truth.exposureLines, *r.exposureLines, 1.0) << "travel " << travel;
    }
}

TEST(Slit, CurtainsAreFollowedAcrossTheRulerAndClearOfTheScreensEnds) {
    // The curtains cross the photo along x, 3 pixels a column, 0.5 ms apart; the screen has
    // 768 lines of 808 a refresh. Steep: 1.3 lines a column, so that across the ruler and
    // the bars, 430 columns where no group is read, the edges move by more than half a
    // refresh. Gentle: 0.3 lines a column, the opening in the blanking over a quarter of
    // the screen, where the band goes on from the screen's top and the groups show the
    // screen's own edge a few lines down instead.
    struct Case {
        const char* name;
        double perColumn, firstOpening;
    };
    for (Case c : {Case{"steep", 1.3, 40}, Case{"gentle, from the blanking", 0.3, 560}}) {
        const int width = 1024;
        const double vtotal = 808, height = 768, exposure = 120, perPixel = c.perColumn / 3;
        ScreenView view;
        view.grids.push_back({cv::Matx33d(3, 0, 100, 0, 3, 50, 0, 0, 1), 0, height});
        auto line = [&](double column, double time) {
            const double u = time - kActiveLineShare * column / width;
            return u - vtotal * std::floor(u / vtotal);
        };
        Band band;
        band.top = 0, band.bottom = height;
        for (double column = 20; column < width; column += 17) {
            if (column > 300 && column < 730) continue;  // the ruler and the bars
            const double opening = c.firstOpening + perPixel * (100 + 3 * column);
            GroupEdges g{column, line(column, opening), line(column, opening + exposure)};
            if (*g.start >= height) g.start = 6 + 3 * column / width;  // the screen's own top
            if (*g.end >= height) g.end.reset();
            band.groups.push_back(g);
        }
        const auto travel = FitSlit(band, view, {3400, 2400}, width, vtotal, 0);
        ASSERT_TRUE(travel) << c.name;
        EXPECT_NEAR(perPixel, travel->openSlope, 1e-3) << c.name;
        EXPECT_NEAR(perPixel, travel->closeSlope, 1e-3) << c.name;
        EXPECT_NEAR(exposure, travel->Exposure(1700), 0.5) << c.name;
        EXPECT_GE(travel->kept, 0.95) << c.name << ": spread " << travel->spread;
        EXPECT_LE(travel->spread, 0.6) << c.name;
    }
}
