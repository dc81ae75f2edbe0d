// The camera that photographs the screen: where the screen lands in the picture (a
// projective mapping, then the lens's distortion and lateral colour), the optics (blur,
// softer in red and blue, vignetting), the sensor (white balance, gain, photon and read
// noise, clipping) or a negative film, and the file (sRGB, JPEG or PNG).
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "photo/model/geometry.h"
#include "photo/simulate/light.h"

namespace velmaro::photo {

struct Placement {
    cv::Size photo{3000, 2250};
    double scale = 2.5;        // photo pixels per screen line
    double rotationDeg = 0;    // counter-clockwise as seen in the photo, any angle: where the screen's top points
    double keystoneX = 0;      // right edge this much taller than the left, as a share
    double keystoneY = 0;      // bottom edge this much wider than the top, as a share
    cv::Point2d offset{0, 0};  // of the screen's centre from the photo's centre, pixels
    double aspect = 0;         // screen columns this share wider than lines are tall
    bool mirrored = false;     // the screen's columns run the other way, as on a film seen from its back
};

// Homography from screen coordinates to photo coordinates (before the lens's distortion).
cv::Matx33d ScreenToPhoto(const Placement& placement, int screenWidth, int screenHeight);

struct Lens {
    double k1 = 0;  // radial distortion: a point r half-diagonals from the photo's centre lands at r (1 + k1 r^2)
    double chromaRed = 0, chromaBlue = 0;  // red's and blue's images this share larger than green's
};

// Where the screen lands in the photo: the projective mapping, then the lens.
struct Projection {
    cv::Matx33d screenToPhoto;
    Lens lens{};
    cv::Size photo;

    // The photo position of a screen position, in one channel (red, green or blue).
    cv::Point2d operator()(cv::Point2d screen, int channel = kGreen) const;
    // The screen position that lands on a photo position.
    cv::Point2d Back(cv::Point2d photoPoint, int channel = kGreen) const;
};

struct Optics {
    double blur = 0.7;                 // lens blur of green, Gaussian sigma in photo pixels
    double vignetting = 0.2;           // light lost in the photo's corners, as a share
    double roomLight = 0.01;           // light the room puts on the screen glass, as a share of white
    double blurRed = 1, blurBlue = 1;  // red's and blue's blur as a multiple of green's
    Lens lens{};
};

// A colour negative's orange base, or a black-and-white one; none for a digital photo.
enum class Film { kNone, kGrey, kColour };

struct Sensor {
    double gain = 1;          // linear light of one white pass (or of white all along) to full scale
    double fullWell = 20000;  // electrons at full scale, for photon noise
    double readNoise = 4;     // electrons
    bool grey = false;        // one channel instead of red, green and blue
    std::uint64_t seed = 1;
    double balanceRed = 1, balanceBlue = 1;  // white balance: red's and blue's gain against green's
    Film film = Film::kNone;                 // a negative, scanned: light parts dark
};

using Planes = std::array<cv::Mat1f, kChannels>;  // red, green, blue

// The screen as the camera sees it (see screen.h): an image of light whose pixel (i, j)
// covers screen columns [i - origin.x, i + 1 - origin.x) and line coordinates
// [(j - origin.y) / rowsPerLine, ...), with the wall's light beyond it.
struct ScreenImage {
    Planes planes;
    int rowsPerLine = 1;
    cv::Point2d origin{0, 0};
    float wall = 0;
};

// The screen image through the lens into the photo, blurred (Gaussian sigmas in photo
// pixels, red, green and blue) and vignetted (light lost in the corners, as a share).
Planes FormImage(const ScreenImage& screen, const Projection& projection, const std::array<double, kChannels>& blur,
                 double vignetting);

// Linear light to 8-bit sRGB values with the sensor's noise (or through a negative and a
// scanner); the same seed gives the same values.
cv::Mat Expose(const Planes& light, const Sensor& sensor);

}  // namespace velmaro::photo
