// A simulated photograph measured with the geometry that made it (no reader): its pixels
// in linear light, looked up at screen positions.
#pragma once

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

#include "photo/model/srgb.h"
#include "photo/simulate/simulate.h"

namespace velmaro::photo::testing {

constexpr int kBgrRed = 2, kBgrGreen = 1, kBgrBlue = 0;  // channels in OpenCV's blue-green-red order

// 640 x 480 at 85 Hz (509 lines, 23.1 us a line), square to the camera at 3 photo
// pixels per line, without noise.
inline Scene QuietScene() {
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
    std::vector<cv::Mat1f> linear;  // by channel, blue-green-red (one for a grey photo)

    Projection Geometry() const { return ProjectionOf(scene, photograph.screenToPhoto); }
    // Linear light at a photo position (pixel corners at whole numbers).
    double AtPhoto(cv::Point2d p, int channel = kBgrGreen) const {
        cv::Mat1f patch;
        cv::getRectSubPix(linear[std::min<int>(channel, static_cast<int>(linear.size()) - 1)], {1, 1},
                          cv::Point2f(static_cast<float>(p.x - 0.5), static_cast<float>(p.y - 0.5)), patch);
        return patch(0, 0);
    }
    // Linear light at the centre of screen column x, line n (1-based), in one channel.
    double At(double x, double n, int channel = kBgrGreen) const {
        return AtPhoto(Geometry()({x + 0.5, n - 0.5}, 2 - std::min(channel, 2)), channel);
    }
    // Mean over columns [from, to] of line n.
    double Line(int n, int from, int to, int channel = kBgrGreen) const {
        double sum = 0;
        for (int x = from; x <= to; ++x) sum += At(x, n, channel);
        return sum / (to - from + 1);
    }
    double LinePeriod() const { return scene.timing.LinePeriod(); }
};

inline Shot Take(const Scene& scene) {
    Shot shot{scene, Simulate(BuiltInRuler(), scene), {}};
    const auto& table = LinearOf8Bit();
    cv::Mat linear;
    shot.photograph.image.convertTo(linear, CV_32F);
    cv::Mat1f values = linear.reshape(1);
    values.forEach([&](float& value, const int*) { value = table[static_cast<int>(value)]; });
    cv::split(linear, shot.linear);
    return shot;
}

// Where a profile (by line, 1-based) crosses half of level between lines from and to,
// the crossing interpolated between line centres; rising or falling.
inline double HalfCrossing(const std::vector<double>& profile, double level, int from, int to) {
    const int step = from < to ? 1 : -1;
    for (int n = from; n != to; n += step) {
        const double a = profile[n] - level / 2, b = profile[n + step] - level / 2;
        if ((a < 0) != (b < 0)) return n + step * a / (a - b);
    }
    return NAN;
}

// Lines 1..height of a column range, by line number (index 0 unused).
inline std::vector<double> Profile(const Shot& shot, int from, int to, int channel = kBgrGreen) {
    std::vector<double> profile(shot.scene.timing.height + 1, 0.0);
    for (int n = 1; n <= shot.scene.timing.height; ++n) profile[n] = shot.Line(n, from, to, channel);
    return profile;
}

}  // namespace velmaro::photo::testing
