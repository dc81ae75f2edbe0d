// The camera's photographs measured with the geometry that made them (no reader): the
// lens's distortion and lateral colour, the screen turned and mirrored, negatives, the
// screen's border, bezel and wall, white balance, and the JPEG's chroma.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "photo/model/codec.h"
#include "photo/model/pictures.h"
#include "tests/photo/shot.h"

using namespace velmaro::photo;
using namespace velmaro::photo::testing;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Where a photo row crosses half of `level`, going right from x = from.
double CrossingAlongRow(const Shot& shot, double y, double level, int from, int to, int channel) {
    for (int x = from; x < to; ++x) {
        const double a = shot.AtPhoto({x + 0.5, y}, channel) - level / 2,
                     b = shot.AtPhoto({x + 1.5, y}, channel) - level / 2;
        if ((a < 0) != (b < 0)) return x + 0.5 + a / (a - b);
    }
    return NAN;
}

// An LCD lights the whole screen: 640 x 480, 3 photo pixels a line, no room light.
Scene LitScreen() {
    Scene scene = QuietScene();
    scene.display = DisplayKind::kLcd;
    return scene;
}

}  // namespace

TEST(Lens, DistortionAndLateralColourMoveTheScreensEdgeAsTheirRadiiSay) {
    // The screen's right edge at its middle line lies 960 pixels right of the centre of a
    // 2000 x 1500 photo: 0.768 of its half-diagonal of 1250.
    auto edges = [](double k1) {
        Scene scene = LitScreen();
        scene.optics.lens = {k1, 6e-4, -6e-4};
        const Shot shot = Take(scene);
        const double white = shot.AtPhoto({1900, 750});
        std::vector<double> x;
        for (int channel : {kBgrRed, kBgrGreen, kBgrBlue})
            x.push_back(CrossingAlongRow(shot, 750, white, 1900, 1999, channel));
        return x;  // red, green, blue
    };
    const std::vector<double> straight = edges(0), bent = edges(0.008);
    const double r = 960.0 / 1250;
    EXPECT_NEAR(1960, straight[1], 0.15);
    EXPECT_NEAR(1000 + 960 * (1 + 0.008 * r * r), bent[1], 0.15);
    EXPECT_NEAR(6e-4 * (bent[1] - 1000), bent[0] - bent[1], 0.1) << "red's image larger";
    EXPECT_NEAR(-6e-4 * (bent[1] - 1000), bent[2] - bent[1], 0.1) << "blue's smaller";
}

namespace {

// Pearson correlation of the ruler's label 100 with the photo, sampled where a screen
// turned counter-clockwise by `rotation` (and mirrored) at 3 pixels a line would put it.
double LabelMatch(const Shot& shot, double rotation, bool mirrored) {
    const auto& linear = LinearOf8Bit();
    const cv::Mat1b ruler = BuiltInRuler().grey;
    const int rulerLeft = LayoutFor(640, 480).rulerLeft;
    const cv::Size photo = shot.scene.placement.photo;
    const double c = std::cos(rotation * kPi / 180), s = std::sin(rotation * kPi / 180);
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int row = 100 - 13; row < 100 + 12; ++row)
        for (int column = kLabelZoneFirst; column <= kLabelZoneLast; ++column) {
            const double dx = (mirrored ? -1 : 1) * (rulerLeft + column + 0.5 - 320) * 3, dy = (row + 0.5 - 240) * 3;
            const double x = linear[ruler(row, column)];
            const double y = shot.AtPhoto({photo.width / 2.0 + c * dx + s * dy, photo.height / 2.0 - s * dx + c * dy});
            n += 1, sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
        }
    return (n * sxy - sx * sy) / std::sqrt((n * sxx - sx * sx) * (n * syy - sy * sy));
}

}  // namespace

TEST(Orientation, TurnedAndMirroredScreensPutLabel100WhereTheTurnSays) {
    struct Case {
        double rotation;
        bool mirrored;
    };
    for (Case k :
         {Case{0, false}, Case{90, false}, Case{180, false}, Case{270, false}, Case{0, true}, Case{90, true}}) {
        Scene scene = LitScreen();
        scene.placement.rotationDeg = k.rotation;
        scene.placement.mirrored = k.mirrored;
        if (std::lround(k.rotation / 90) % 2) scene.placement.photo = {1500, 2000};
        const Shot shot = Take(scene);
        const std::string name = std::to_string(k.rotation) + (k.mirrored ? " mirrored" : "");
        EXPECT_GT(LabelMatch(shot, k.rotation, k.mirrored), 0.9) << name;
        EXPECT_LT(LabelMatch(shot, k.rotation + 180, k.mirrored), 0.5) << name << ", upside down";
        // "100" mirrored is "001": its zeros still match.
        EXPECT_LT(LabelMatch(shot, k.rotation, !k.mirrored), 0.7) << name << ", mirrored the other way";
    }
}

TEST(Film, NegativesTurnMoreLightIntoLessAndColourOnesShowTheOrangeBase) {
    Scene scene = QuietScene();
    scene.exposure = 1.0 / 85 + 100 * scene.timing.LinePeriod();  // lines 150 to 250 lit twice, the rest once
    scene.optics.roomLight = 0.01;
    const int strip = LayoutFor(640, 480).rulerLeft + 2;  // the ruler's black edge strip: the glass's light only
    for (Film film : {Film::kGrey, Film::kColour}) {
        scene.sensor.film = film;
        const Shot shot = Take(scene);
        const cv::Mat& image = shot.photograph.image;
        ASSERT_EQ(film == Film::kGrey ? 1 : 3, image.channels());
        auto code = [&](int x, int n, int channel) {
            const cv::Point2d p = shot.Geometry()({x + 0.5, n - 0.5});
            const int i = static_cast<int>(p.x), j = static_cast<int>(p.y);
            return image.channels() == 1 ? image.at<std::uint8_t>(j, i) : image.at<cv::Vec3b>(j, i)[channel];
        };
        for (int channel : {kBgrRed, kBgrGreen, kBgrBlue}) {
            const int dark = code(strip, 350, channel), once = code(60, 350, channel), twice = code(60, 200, channel);
            EXPECT_GT(dark, once + 20) << "channel " << channel;
            EXPECT_GT(once, twice + 5) << "channel " << channel;
        }
        if (film == Film::kColour) {
            EXPECT_GT(code(strip, 350, kBgrRed), code(strip, 350, kBgrGreen) + 20);
            EXPECT_GT(code(strip, 350, kBgrGreen), code(strip, 350, kBgrBlue) + 20);
        }
    }
}

TEST(Housing, BorderBezelAndWallReflectTheRoomAsTheyAreTold) {
    Scene scene = QuietScene();
    scene.placement = {{2400, 1500}, 2.5, 0, 0, 0, {0, 0}};  // the screen's right edge at x = 2000
    scene.optics.roomLight = 0.05;
    scene.housing = {20, 50, 3, 0.5};
    scene.exposure = 0.004;  // lines 150 to 323 lit
    const Shot shot = Take(scene);
    const double y = 750;  // line 240
    const double glass = shot.AtPhoto({2010, y}), bezel = shot.AtPhoto({2045, y}), wall = shot.AtPhoto({2150, y});
    EXPECT_NEAR(3, bezel / glass, 0.15);
    EXPECT_NEAR(0.5, wall / glass, 0.05);
    // The edges between them: halfway between their levels.
    auto edge = [&](double inner, double outer, int from, int to) {
        for (int x = from; x < to; ++x) {
            const double a = shot.AtPhoto({x + 0.5, y}) - (inner + outer) / 2,
                         b = shot.AtPhoto({x + 1.5, y}) - (inner + outer) / 2;
            if ((a < 0) != (b < 0)) return x + 0.5 + a / (a - b);
        }
        return double(NAN);
    };
    EXPECT_NEAR(2020, edge(glass, bezel, 2010, 2040), 1.0);
    EXPECT_NEAR(2070, edge(bezel, wall, 2050, 2100), 1.0);
}

TEST(Sensor, WhiteBalanceScalesRedAndBlueAgainstGreen) {
    Scene scene = QuietScene();
    scene.exposure = 0.004;
    scene.sensor.balanceRed = 1.1;
    scene.sensor.balanceBlue = 0.9;
    scene.gain = 0.8;
    const Shot shot = Take(scene);
    const double green = shot.Line(220, 20, 100, kBgrGreen);
    EXPECT_NEAR(1.1, shot.Line(220, 20, 100, kBgrRed) / green, 0.01);
    EXPECT_NEAR(0.9, shot.Line(220, 20, 100, kBgrBlue) / green, 0.01);
}

TEST(File, JpegKeepsFineColourOnlyWithWholeChroma) {
    cv::Mat3b stripes(64, 64);
    for (int x = 0; x < 64; ++x) stripes.col(x).setTo(x % 2 ? cv::Vec3b(255, 0, 0) : cv::Vec3b(0, 0, 255));
    auto error = [&](bool halveChroma) {
        const cv::Mat decoded = DecodeImage(EncodeImage(stripes, "jpg", 95, halveChroma));
        return cv::norm(decoded, stripes, cv::NORM_L1) / (64 * 64 * 3);
    };
    EXPECT_LT(error(false), 10);
    EXPECT_GT(error(true), 40);
}
