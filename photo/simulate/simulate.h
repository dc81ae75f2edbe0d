// A simulated photograph of the running pattern: the screen's pictures, turned into
// light by a CRT or an LCD over an exposure window, photographed by a camera.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>

#include "photo/model/display.h"
#include "photo/model/ruler.h"
#include "photo/model/timing.h"
#include "photo/simulate/camera.h"
#include "photo/simulate/light.h"
#include "photo/simulate/schedule.h"

namespace velmaro::photo {

// The photo's pixel axis along which a slit travels.
enum class SlitAxis { kX, kY };
std::string Name(SlitAxis axis);  // "photo-x", "photo-y"

// A leaf shutter opens the whole photo at once. A slit (a focal-plane shutter's
// curtains, or an electronic shutter's readout) travels along one of the photo's axes:
// with s the share of the travel (0 where it starts, 1 where it ends), a point opens at
// t0 + s To and closes at t0 + T + s Tc - (Tc - To) / 2, T being the exposure at the
// middle of the travel.
struct Shutter {
    bool slit = false;
    double travel = 0.010;  // To, seconds across the photo; negative: from right to left (bottom to top)
    std::optional<double> closingTravel{};  // Tc, seconds; To's when not given
    SlitAxis axis = SlitAxis::kX;
    bool rolling = false;  // a readout rather than curtains; the same model

    double Opening() const { return std::abs(travel); }
    double Closing() const { return closingTravel.value_or(Opening()); }
};

// The screen's housing and the room around it, as the photo shows them.
struct Housing {
    double border = 0;        // the screen's black overscan around the picture, photo pixels
    double bezel = 0;         // the bezel around that, photo pixels
    double bezelReflect = 2;  // the bezel's light against the glass's, in the same room light
    double wallReflect = 2;   // the wall's, beyond the bezel
};

// Everything a simulated photograph depends on.
struct Scene {
    DisplayKind display = DisplayKind::kCrt;
    Timing timing = ResolveTiming(1024, 768, 85);
    double exposure = 1.0 / 250;  // seconds; for a slit, at the middle of its travel
    // The line being scanned when the shutter opens, counted from 1, with its fraction;
    // above the screen's height the opening falls in the vertical blanking. Refresh 0
    // begins with line 1 at time 0. With a slit this holds at the screen's centre.
    double startLine = 212;
    Schedule schedule{2, {1}};
    Phosphor phosphor = DefaultPhosphor();
    double beamSpot = 0;  // CRT: Gaussian sigma of the beam's spot, lines
    Panel panel;          // LCD
    Shutter shutter;
    Placement placement;
    Optics optics;
    Housing housing;
    Sensor sensor;
    double gain = 1;  // 1: the photo's brightest part at 85 % of full scale
};

// Throws std::invalid_argument, naming the value, for a scene that cannot be made.
void Validate(const Scene& scene);

Projection ProjectionOf(const Scene& scene, const cv::Matx33d& screenToPhoto);

// Share of a slit's travel at a photo point: 0 where it starts, 1 where it ends.
double TravelShare(const Shutter& shutter, cv::Size photo, cv::Point2d photoPoint);

// When the shutter opens and closes, seconds from the start of refresh 0.
struct Span {
    double opening = 0, closing = 0;
};
Span WindowAt(const Scene& scene, const Projection& projection, cv::Point2d screenPoint);

struct Photograph {
    cv::Mat image;  // 8-bit, blue-green-red or grey
    cv::Matx33d screenToPhoto;
    double fullScale = 1;  // the screen light that the sensor records at full scale
};

// Light that the screen sends out over the window, per screen pixel, red-green-blue.
Planes ScreenLight(const Ruler& ruler, const Scene& scene, const Projection& projection);

Photograph Simulate(const Ruler& ruler, const Scene& scene);

}  // namespace velmaro::photo
