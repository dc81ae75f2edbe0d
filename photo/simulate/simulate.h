// A simulated photograph of the running pattern: the screen's pictures, turned into
// light by a CRT or an LCD over an exposure window, photographed by a camera.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "photo/model/display.h"
#include "photo/model/ruler.h"
#include "photo/model/timing.h"
#include "photo/simulate/camera.h"
#include "photo/simulate/light.h"
#include "photo/simulate/schedule.h"

namespace velmaro::photo {

struct Shutter {
    bool focalPlane = false;  // otherwise a leaf shutter: one window for the whole image
    double travel = 0.010;    // seconds for the slit to cross the photo's width, left to right; negative: right to left
};

// Everything a simulated photograph depends on.
struct Scene {
    DisplayKind display = DisplayKind::kCrt;
    Timing timing = ResolveTiming(1024, 768, 85);
    double exposure = 1.0 / 250;  // seconds
    // The line being scanned when the shutter opens, counted from 1, with its fraction;
    // above the screen's height the opening falls in the vertical blanking. Refresh 0
    // begins with line 1 at time 0. With a focal-plane shutter this holds at the
    // screen's centre.
    double startLine = 212;
    Schedule schedule{2, {1}};
    Phosphor phosphor = DefaultPhosphor();
    double response = 1e-3;  // LCD, 10-90 %, seconds
    Shutter shutter;
    Placement placement;
    Optics optics;
    Sensor sensor;
    double gain = 1;  // 1: the brightest part of the screen at 85 % of full scale
};

// Throws std::invalid_argument, naming the value, for a scene that cannot be made.
void Validate(const Scene& scene);

// When the window opens at a screen point, in seconds from the start of refresh 0.
double OpeningTime(const Scene& scene, const cv::Matx33d& screenToPhoto, cv::Point2d screenPoint);

struct Photograph {
    cv::Mat image;  // 8-bit, blue-green-red or grey
    cv::Matx33d screenToPhoto;
    double fullScale = 1;  // the screen light that the sensor records at full scale
};

// Light that the screen sends out over the window, per screen pixel, red-green-blue.
cv::Mat3f ScreenLight(const Ruler& ruler, const Scene& scene, const cv::Matx33d& screenToPhoto);

Photograph Simulate(const Ruler& ruler, const Scene& scene);

}  // namespace velmaro::photo
