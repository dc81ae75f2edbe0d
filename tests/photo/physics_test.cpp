// The simulator's photographs measured with the geometry it used (no reader): band
// heights, brightness of repeated passes, phosphor glow, LCD bar shares, the LCD's
// response through its gamma, the beam's spot, clipping, the sensor's noise and the
// slant of a focal-plane shutter.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "photo/model/pictures.h"
#include "photo/simulate/truth.h"
#include "tests/photo/shot.h"

using namespace velmaro::photo;
using namespace velmaro::photo::testing;

TEST(Physics, CrtBandHeightIsTheExposureOverTheLinePeriod) {
    Scene scene = QuietScene();
    scene.exposure = 0.003;
    const Shot shot = Take(scene);
    const std::vector<double> profile = Profile(shot, 20, 100);  // white background, clear of the bars
    const double plateau = profile[220];
    const double top = HalfCrossing(profile, plateau, 100, 200), bottom = HalfCrossing(profile, plateau, 250, 400);
    const double expected = scene.exposure / shot.LinePeriod();
    EXPECT_NEAR(expected, bottom - top, 2.0) << "band from line " << top << " to " << bottom;
    EXPECT_NEAR(scene.startLine, top + 0.5, 2.0);
    EXPECT_LT(profile[100], 0.01 * plateau) << "dark above the band";
    EXPECT_LT(profile[400], 0.01 * plateau) << "dark below the band";
}

TEST(Physics, LinesLitInMRefreshesAreMTimesAsBright) {
    for (double refreshes : {1.5, 2.5}) {
        Scene scene = QuietScene();
        scene.exposure = refreshes / 85;
        scene.startLine = 100;
        const Shot shot = Take(scene);
        // From line 100 the window runs on for the half refresh of 254.5 lines past a
        // whole number of refreshes: lines 110..340 are lit once more than 380..470.
        const double more = shot.Line(200, 20, 100), fewer = shot.Line(420, 20, 100);
        const double m = std::floor(refreshes);
        EXPECT_NEAR((m + 1) / m, more / fewer, 0.02 * (m + 1) / m)
            << refreshes << " refreshes: " << more << " vs " << fewer;
    }
}

TEST(Physics, SlowPhosphorLeavesAGlowTailAboveTheBand) {
    Scene scene = QuietScene();
    scene.exposure = 0.003;
    const double tau = 200e-6;
    scene.phosphor.fill({{1.0, tau}});
    const Shot slow = Take(scene);
    const std::vector<double> profile = Profile(slow, 20, 100);
    // A line scanned d lines before the opening glows e^(-d Tl / tau) of its pass into
    // the window: fit the decay over 3..25 lines above the edge.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int count = 0;
    for (int d = 3; d <= 25; ++d) {
        const double y = std::log(profile[150 - d]);
        sx += d, sy += y, sxx += d * d, sxy += d * y, ++count;
    }
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    const double expected = tau / slow.LinePeriod();
    EXPECT_NEAR(expected, -1 / slope, 0.1 * expected) << "glow decays over " << -1 / slope << " lines";
    EXPECT_GT(profile[140], 0.2 * profile[200]) << "10 lines above the band";

    scene.phosphor = DefaultPhosphor();
    const std::vector<double> fast = Profile(Take(scene), 20, 100);
    EXPECT_LT(fast[140], 0.01 * fast[200]) << "green's weak tail, 10 lines above the band";
}

TEST(Physics, LcdBarsShowTheShareOfTheWindowSpentInEarlierPhases) {
    Scene scene = QuietScene();
    scene.display = DisplayKind::kLcd;
    scene.panel.response = 1e-6;
    // 173 lines from line 150: refresh 0 (phase 2) replaces phase 1 on lines 150..323
    // while the shutter is open.
    scene.exposure = 0.004;
    const Shot shot = Take(scene);
    const ScreenLayout layout = LayoutFor(640, 480);
    const double opening = (scene.startLine - 1) * shot.LinePeriod();
    for (int n = 160; n <= 310; n += 15) {
        const double white = shot.Line(n, 20, 100);
        auto bar = [&](int j) {
            return shot.Line(n, layout.BarColumn(-1, j) + 1, layout.BarColumn(-1, j) + 3) / white;
        };
        const double scanned = (n - 1 + kActiveLineShare * (layout.BarColumn(-1, 2) + 2.5) / 640) * shot.LinePeriod();
        const double before = (scanned - opening) / scene.exposure;  // share of the window in phase 1
        EXPECT_NEAR(0.0, bar(1), 0.02) << "line " << n;
        EXPECT_NEAR(before, bar(2), 0.03) << "line " << n;
        EXPECT_NEAR(1.0, bar(3), 0.02) << "line " << n;
        EXPECT_NEAR(1.0, bar(4), 0.02) << "line " << n;
    }
}

TEST(Physics, FocalPlaneShutterSlantsTheBandAndKeepsItsHeight) {
    Scene scene = QuietScene();
    scene.exposure = 0.003;
    scene.shutter = {true, 0.001};
    const Shot shot = Take(scene);
    const Truth truth = TruthOf(scene, shot.photograph.screenToPhoto);
    struct Edge {
        double top, bottom;
    };
    auto edges = [&](int from, int to) {
        const std::vector<double> profile = Profile(shot, from, to);
        const double plateau = profile[230];
        return Edge{HalfCrossing(profile, plateau, 60, 230), HalfCrossing(profile, plateau, 250, 470)};
    };
    const Edge left = edges(10, 30), right = edges(600, 620);
    const double height = scene.exposure / shot.LinePeriod();
    EXPECT_NEAR(height, left.bottom - left.top, 2.0);
    EXPECT_NEAR(height, right.bottom - right.top, 2.0);
    // Across the 590 columns between the two: the shutter's share of the slant, and the
    // beam's own sweep along the line.
    const double drop = truth.slantLines * 590 / 640 - kActiveLineShare * 590 / 640;
    EXPECT_NEAR(drop, right.top - left.top, 1.5) << "slant " << truth.slantLines << " lines across the screen";
    EXPECT_NEAR(drop, right.bottom - left.bottom, 1.5);
    EXPECT_GT(truth.slantLines, 30);
}

TEST(Physics, RedGlowsLongerAboveTheBandThanBlue) {
    Scene scene = QuietScene();
    scene.exposure = 0.003;
    scene.phosphor = {
        {{{0.86, 140e-6}, {0.14, 1.2e-3}}, {{0.9, 60e-6}, {0.1, 0.6e-3}}, {{0.94, 25e-6}, {0.06, 0.35e-3}}}};
    const Shot shot = Take(scene);
    // 20 lines (0.46 ms) above the band's top, against the band: the slow part's glow.
    auto glow = [&](int channel) { return shot.Line(130, 20, 100, channel) / shot.Line(250, 20, 100, channel); };
    EXPECT_GT(glow(kBgrRed), 0.02);
    EXPECT_GT(glow(kBgrRed), 2 * glow(kBgrGreen));
    EXPECT_GT(glow(kBgrGreen), 2 * glow(kBgrBlue));
}

// An LCD's bar, photographed in a window of two lines opening on line 400: the lines
// above were rewritten (400 - n) lines earlier, so the profile up the screen is the
// panel's step response against time.
struct Ramp {
    double halfAge;  // seconds from the rewrite until the bar gives half of white's light
    double black;    // a bar still black, against white
};

Ramp BarRamp(int firstPhase, int bar) {
    Scene scene = QuietScene();
    scene.display = DisplayKind::kLcd;
    scene.panel = {3e-3, 1.6, 2.2, 0.004, 0};
    scene.exposure = 2 * scene.timing.LinePeriod();
    scene.startLine = 400;
    scene.schedule = {firstPhase, {1}};
    const Shot shot = Take(scene);
    const ScreenLayout layout = LayoutFor(640, 480);
    const int column = layout.BarColumn(-1, bar);
    std::vector<double> share(481, 0.0);
    for (int n = 250; n <= 470; ++n) share[n] = shot.Line(n, column + 1, column + 3) / shot.Line(n, 20, 100);
    // HalfCrossing finds where the share crosses 0.5 between the lines.
    const double line = HalfCrossing(share, 1.0, 399, 250);
    const double rewritten = line - 1 + kActiveLineShare * (column + 2.5) / 640, opened = scene.startLine - 1;
    return {(opened + 1 - rewritten) * shot.LinePeriod(), share[460]};
}

TEST(Physics, LcdDriveMovesExponentiallyAndItsLightFollowsThePanelsGamma) {
    const double rise = 3e-3 / std::log(9.0), fall = 1.6 * rise, leak = 0.004;
    // Half of white's light is a drive of ((0.5 - leak) / (1 - leak))^(1 / 2.2) = 0.7289:
    // reached after ln(1 / (1 - 0.7289)) = 1.305 rise time constants from black, and
    // after ln(1 / 0.7289) = 0.316 fall time constants from white.
    const Ramp rising = BarRamp(0, 2);  // phase 4 to 0: every bar turns white
    EXPECT_NEAR(1.305 * rise, rising.halfAge, 0.04 * rise);
    EXPECT_NEAR(leak, rising.black, 0.0015) << "black leaks, below the rewrite";
    const Ramp falling = BarRamp(1, 1);  // phase 0 to 1: bar 1 turns black
    EXPECT_NEAR(0.316 * fall, falling.halfAge, 0.04 * fall);
}

// Contrast of the 1-line stripes' fundamental over lines 200 to 300 (all lit once): the
// photo's rows there, 3 a line, hold 50 periods of 6 rows.
double StripeContrast(double spot) {
    Scene scene = QuietScene();
    scene.exposure = 0.008;
    scene.startLine = 120;
    scene.beamSpot = spot;
    const Shot shot = Take(scene);
    const int column = LayoutFor(640, 480).rulerLeft + (kStripeFirst + kStripeLast) / 2;
    const int x = static_cast<int>(shot.Geometry()({column + 0.5, 240}).x);
    double cosine = 0, sine = 0, total = 0;
    for (int y = 630; y < 930; ++y) {
        const double level = cv::mean(shot.linear[kBgrGreen](cv::Rect(x - 6, y, 13, 1)))[0];
        cosine += level * std::cos(2 * 3.14159265358979323846 * y / 6);
        sine += level * std::sin(2 * 3.14159265358979323846 * y / 6);
        total += level;
    }
    return 2 * std::hypot(cosine, sine) / total;
}

TEST(Physics, BeamSpotTakesTheStripesContrastAsAGaussianSpotDoes) {
    // A Gaussian of sigma lines keeps exp(-pi^2 sigma^2 / 2) of a 2-line period; the
    // camera's own blur takes the same share from both.
    const double sharp = StripeContrast(0.2), soft = StripeContrast(0.5);
    EXPECT_GT(sharp, 0.05);
    EXPECT_NEAR(std::exp(-9.8696 * (0.25 - 0.04) / 2), soft / sharp, 0.04);
}

TEST(Physics, WhiteBeyondFullScaleClipsAndTheRestScalesWithTheGain) {
    Scene scene = QuietScene();
    scene.exposure = 1.0 / 85 + 100 * scene.timing.LinePeriod();  // lines 150 to 250 lit twice
    const Shot plain = Take(scene);
    scene.gain = 1.3;
    const Shot bright = Take(scene);
    cv::Mat1b twice;  // columns 40 to 60 of lines 200 to 220
    cv::extractChannel(bright.photograph.image(cv::Rect(160, 630, 60, 60)), twice, kBgrGreen);
    EXPECT_EQ(60 * 60, cv::countNonZero(twice == 255)) << "lines lit twice, at 110 % of full scale";
    EXPECT_NEAR(0.85, plain.Line(200, 20, 100), 0.01) << "the brightest at 85 % of full scale";
    EXPECT_NEAR(1.3, bright.Line(350, 20, 100) / plain.Line(350, 20, 100), 0.02) << "lines lit once";
}

TEST(Physics, SensorNoiseIsPhotonAndReadNoise) {
    Scene scene = QuietScene();
    scene.sensor.fullWell = 2000;
    scene.sensor.readNoise = 5;
    scene.exposure = 0.004;
    const Shot shot = Take(scene);
    // White at 85 % of full scale: 1700 electrons and the read noise.
    const cv::Mat1f patch = shot.linear[kBgrGreen](cv::Rect(150, 700, 180, 150));  // columns 37 to 97, lines 224 to 274
    cv::Scalar mean, deviation;
    cv::meanStdDev(patch, mean, deviation);
    EXPECT_NEAR(0.85, mean[0], 0.003);
    EXPECT_NEAR(std::sqrt(0.85 * 2000 + 25) / 2000, deviation[0], 0.06 * deviation[0]);
}
