// The camera that photographs the screen: where the screen lands in the picture (a
// projective mapping), the optics (blur, vignetting), the room's light, the sensor
// (gain, photon and read noise, clipping) and the file (sRGB, JPEG or PNG).
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "photo/model/geometry.h"

namespace velmaro::photo {

struct Placement {
    cv::Size photo{3000, 2250};
    double scale = 2.5;        // photo pixels per screen line (and per column)
    double rotationDeg = 0;    // counter-clockwise as seen in the photo
    double keystoneX = 0;      // right edge this much taller than the left, as a share
    double keystoneY = 0;      // bottom edge this much wider than the top, as a share
    cv::Point2d offset{0, 0};  // of the screen's centre from the photo's centre, pixels
};

// Homography from screen coordinates to photo coordinates.
cv::Matx33d ScreenToPhoto(const Placement& placement, int screenWidth, int screenHeight);

struct Optics {
    double blur = 0.7;        // Gaussian sigma, photo pixels
    double vignetting = 0.2;  // light lost in the photo's corners, as a share
    double roomLight = 0.01;  // light the room puts on the screen glass, as a share of white
};

struct Sensor {
    double gain = 1;           // linear light of one white pass (or of white all along) to full scale
    double fullWell = 20000;   // electrons at full scale, for photon noise
    double readNoise = 4;      // electrons
    bool grey = false;         // one channel instead of red, green and blue
    std::uint64_t seed = 1;
};

// The screen's light (3 channels, screen-sized) placed into the photo, with the room's
// light on the glass and around the screen, then blurred and vignetted.
cv::Mat3f FormImage(const cv::Mat3f& screenLight, const cv::Matx33d& screenToPhoto, cv::Size photo,
                    const Optics& optics);

// Linear light to 8-bit sRGB values with the sensor's noise; the same seed gives the
// same values.
cv::Mat Expose(const cv::Mat3f& light, const Sensor& sensor);

}  // namespace velmaro::photo
