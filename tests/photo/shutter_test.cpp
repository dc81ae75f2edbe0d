// A slit's photographs measured with the geometry that made them (no reader): across the
// lines, the band's edges give each curtain's travel and its height the exposure along
// the travel; along the scan, the band stretches or shrinks by the slit's speed against
// the beam's.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "photo/model/timing.h"
#include "tests/photo/shot.h"

using namespace velmaro::photo;
using namespace velmaro::photo::testing;

namespace {

struct Band {
    double top, bottom;  // line coordinates of its half-level edges
};

Band BandIn(const Shot& shot, int from, int to) {
    const std::vector<double> profile = Profile(shot, from, to);
    const auto brightest = std::max_element(profile.begin() + 1, profile.end());
    const int middle = static_cast<int>(brightest - profile.begin());
    return {HalfCrossing(profile, *brightest, middle, 1),
            HalfCrossing(profile, *brightest, middle, shot.scene.timing.height)};
}

Scene SlitScene(SlitAxis axis, double opening, double closing) {
    Scene scene = QuietScene();
    scene.startLine = 200;
    scene.shutter.slit = true;
    scene.shutter.axis = axis;
    scene.shutter.travel = opening;
    scene.shutter.closingTravel = closing;
    return scene;
}

}  // namespace

TEST(Slit, AcrossTheLinesEachEdgeGivesItsCurtainAndTheHeightTheTaperedExposure) {
    const double opening = 0.004, closing = 0.0046;  // seconds across the photo's width, left to right
    Scene scene = SlitScene(SlitAxis::kX, opening, closing);
    scene.exposure = 0.003;  // at the middle of the travel
    const Shot shot = Take(scene);
    const double line = shot.LinePeriod();
    // White columns either side of the ruler; the slit reaches them at these shares of its travel.
    const int left = 20, right = 610;
    const Band a = BandIn(shot, left - 10, left + 10), b = BandIn(shot, right - 10, right + 10);
    const double sa = shot.Geometry()({left + 0.5, 240}).x / 2000, sb = shot.Geometry()({right + 0.5, 240}).x / 2000;
    // The beam reaches the right column later within each line; that delay is no curtain's.
    const double sweep = kActiveLineShare * (right - left) / 640;
    EXPECT_NEAR(opening, (b.top - a.top + sweep) * line / (sb - sa), 0.02 * opening);
    EXPECT_NEAR(closing, (b.bottom - a.bottom + sweep) * line / (sb - sa), 0.02 * closing);
    // The exposure grows along the travel by the curtains' difference: at the start, the
    // middle and the end of the whole photo.
    const double ea = (a.bottom - a.top) * line, eb = (b.bottom - b.top) * line;
    auto at = [&](double s) { return ea + (eb - ea) * (s - sa) / (sb - sa); };
    EXPECT_NEAR(scene.exposure - (closing - opening) / 2, at(0), 0.5 * line);
    EXPECT_NEAR(scene.exposure, at(0.5), 0.5 * line);
    EXPECT_NEAR(scene.exposure + (closing - opening) / 2, at(1), 0.5 * line);
}

TEST(Slit, AlongTheScanTheBandIsTheExposureTimesTheLineRateOverOneLessTheRates) {
    const double travel = 0.005, exposure = 0.002;
    std::vector<double> heights;
    for (double direction : {1.0, -1.0}) {  // down the photo with the beam, then up against it
        Scene scene = SlitScene(SlitAxis::kY, direction * travel, travel);
        scene.exposure = exposure;
        const Shot shot = Take(scene);
        const Band band = BandIn(shot, 20, 100);
        heights.push_back(band.bottom - band.top);
        // The slit crosses the photo's 1500 rows, 500 screen lines at 3 pixels a line.
        const double lineRate = 1 / shot.LinePeriod(), speed = direction * 500 / travel;
        EXPECT_NEAR(exposure * lineRate / std::abs(1 - lineRate / speed), heights.back(), 1.0) << direction;
    }
    // Two photographs, the second turned upside down, give the exposure back: 2 N1 N2 / (N1 + N2) lines.
    const double line = ResolveTiming(640, 480, 85).LinePeriod();
    EXPECT_NEAR(exposure, 2 * heights[0] * heights[1] / (heights[0] + heights[1]) * line, 0.01 * exposure);
}
