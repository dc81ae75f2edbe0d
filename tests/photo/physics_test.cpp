// The simulator's photographs measured with the geometry it used (no reader): band
// heights, brightness of repeated passes, phosphor glow, LCD bar shares and the slant
// of a focal-plane shutter.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

#include "photo/model/pictures.h"
#include "photo/model/srgb.h"
#include "photo/simulate/simulate.h"
#include "photo/simulate/truth.h"

using namespace velmaro::photo;

namespace {

constexpr int kGreen = 1;  // channel in OpenCV's blue-green-red order

// 640 x 480 at 85 Hz (509 lines, 23.1 us a line), square to the camera at 3 photo
// pixels per line, without noise.
Scene QuietScene() {
    Scene scene;
    scene.timing = ResolveTiming(640, 480, 85);
    scene.placement = {{2000, 1500}, 3.0, 0, 0, 0, {0, 0}};
    scene.optics = {0.6, 0, 0};
    scene.sensor = {1, 1e9, 0, false, 1};
    scene.startLine = 150;
    scene.schedule = {2, {1}};
    return scene;
}

struct Shot {
    Scene scene;
    Photograph photograph;
    std::vector<cv::Mat1f> linear;  // by channel, blue-green-red

    // Linear light at the centre of screen column x, line n (1-based), in one channel.
    double At(double x, double n, int channel = kGreen) const {
        const cv::Point2d p = Apply(photograph.screenToPhoto, {x + 0.5, n - 0.5});
        cv::Mat1f patch;
        cv::getRectSubPix(linear[channel], {1, 1}, cv::Point2f(static_cast<float>(p.x - 0.5), static_cast<float>(p.y - 0.5)),
                          patch);
        return patch(0, 0);
    }
    // Mean over columns [from, to] of line n.
    double Line(int n, int from, int to, int channel = kGreen) const {
        double sum = 0;
        for (int x = from; x <= to; ++x) sum += At(x, n, channel);
        return sum / (to - from + 1);
    }
    double LinePeriod() const { return scene.timing.LinePeriod(); }
};

Shot Take(const Scene& scene) {
    Shot shot{scene, Simulate(BuiltInRuler(), scene), {}};
    const auto& table = LinearOf8Bit();
    cv::Mat3f linear;
    shot.photograph.image.convertTo(linear, CV_32FC3);
    linear.forEach([&](cv::Vec3f& pixel, const int*) {
        for (int c = 0; c < 3; ++c) pixel[c] = table[static_cast<int>(pixel[c])];
    });
    cv::split(linear, shot.linear);
    return shot;
}

// Where a profile (by line, 1-based) crosses half of level between lines from and to,
// the crossing interpolated between line centres; rising or falling.
double HalfCrossing(const std::vector<double>& profile, double level, int from, int to) {
    const int step = from < to ? 1 : -1;
    for (int n = from; n != to; n += step) {
        const double a = profile[n] - level / 2, b = profile[n + step] - level / 2;
        if ((a < 0) != (b < 0)) return n + step * a / (a - b);
    }
    return NAN;
}

// Lines 1..height of a column range, by line number (index 0 unused).
std::vector<double> Profile(const Shot& shot, int from, int to, int channel = kGreen) {
    std::vector<double> profile(shot.scene.timing.height + 1, 0.0);
    for (int n = 1; n <= shot.scene.timing.height; ++n) profile[n] = shot.Line(n, from, to, channel);
    return profile;
}

}  // namespace

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
        EXPECT_NEAR((m + 1) / m, more / fewer, 0.02 * (m + 1) / m) << refreshes << " refreshes: " << more << " vs " << fewer;
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
        auto bar = [&](int j) { return shot.Line(n, layout.BarColumn(-1, j) + 1, layout.BarColumn(-1, j) + 3) / white; };
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
    struct Edge { double top, bottom; };
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
