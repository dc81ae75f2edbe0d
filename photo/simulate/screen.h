// The screen as the camera sees it: each line's light spread over its height (a CRT's
// beam spot, an LCD's rows of pixels with the dark matrix between them), the glass
// reflecting the room, the black overscan border around the picture, the bezel and the
// wall beyond.
#pragma once

#include "photo/simulate/camera.h"

namespace velmaro::photo {

// Rows of the screen image per screen line: enough to draw a line's shape.
constexpr int kRowsPerLine = 4;

// How a line's light lies across its height, and across a column's width.
struct LineShape {
    double spot = 0;       // CRT: Gaussian sigma of the beam's spot, lines; 0: lines fill their height
    double matrix = 0;     // LCD: dark share of each line's height, at its bottom
    double smoothing = 0;  // Gaussian sigma, lines, of the lens's blur applied here, before the camera samples
};

// Around the picture, in screen columns (x) and lines (y).
struct Surround {
    cv::Point2d border{0, 0};  // the screen's black overscan, beyond the picture
    cv::Point2d bezel{0, 0};   // beyond the border
    double glass = 0;          // the room's light reflected by the glass
    double bezelLight = 0, wallLight = 0;
};

// The screen's light (per screen pixel, red-green-blue) shaped and surrounded.
ScreenImage Surroundings(const Planes& light, const LineShape& shape, const Surround& surround);

}  // namespace velmaro::photo
