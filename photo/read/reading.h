// Reading a photograph of the pattern, from the image to the numbers: find the lit
// screen, fit its grid, number the lines, then measure the CRT's band or the LCD's
// change zone and read the bars; the mode's timing turns lines into seconds.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

#include "photo/model/display.h"
#include "photo/model/timing.h"
#include "photo/read/image.h"

namespace velmaro::photo {

// What the shutter was, as the user says it or as the photo shows it.
enum class ShutterKind { kLeaf, kSlit, kUnknown };
std::string Name(ShutterKind kind);  // "leaf", "slit", "unknown"
// The photo's pixel axis along which a slit travels.
enum class TravelAxis { kPhotoX, kPhotoY };
std::string Name(TravelAxis axis);  // "photo-x", "photo-y"

struct ReadOptions {
    int width = 1024, height = 768;
    std::optional<double> refreshHz;
    std::optional<int> vtotal;
    std::optional<double> hfreqKhz;
    std::optional<DisplayKind> display;  // told from the photo when not given
    // The speed marked on the camera, seconds: where the photo leaves the count of
    // refreshes open (more than a cycle of five pictures), the count nearest to it is taken.
    std::optional<double> markedSeconds;
    std::optional<ShutterKind> shutter;  // leaf or slit; told from the band's slant when not given
    std::optional<bool> travelAlongLongSide;  // a slit's travel: along the frame's long side (true) or short side
    std::optional<cv::Size2d> frameMm;   // the film or sensor frame, for the curtains' speeds in mm/ms
    std::optional<bool> negative;        // told from the photo when not given
};

// What was found where, for drawing it on the photo.
struct Findings {
    std::vector<std::vector<cv::Point2f>> pieces;  // outlines of the lit parts
    std::vector<cv::Matx33d> grids;                // screen (column, line coordinate) to photo, numbered ones
    std::vector<std::pair<double, double>> gridLines;  // line coordinate extent of each grid
    std::optional<double> startEdge, endEdge;     // line coordinates at the screen's middle
    double startSlope = 0, endSlope = 0;          // lines per column
    std::optional<double> screenWidth;           // columns that the lit screen spans, where both its sides show
};

struct Reading {
    DisplayKind display = DisplayKind::kCrt;
    int width = 0, height = 0;
    std::optional<double> refreshHz;
    std::optional<int> vtotal;
    std::optional<VtotalSource> vtotalSource;
    std::optional<double> linePeriod;
    std::optional<double> exposureLines, uncertaintyLines;
    std::optional<int> firstLine, firstPhase, lastLine, lastPhase, refreshes, repeatedPictures;
    std::optional<double> slantLines;
    bool startInBlanking = false, endInBlanking = false;
    bool labelSeen = false;               // the lines could be numbered from the ruler
    std::optional<double> responseLines;  // LCD: the panel's 10-90 % response

    // How the screen lies in the photo: turned counter-clockwise by rotationDeg (0 to 360),
    // and seen from behind (a film scanned from its back) when mirrored.
    struct Orientation {
        double rotationDeg = 0;
        bool mirrored = false;
    };
    std::optional<Orientation> orientation;
    bool negative = false;  // the photo was a negative, read inverted
    struct Shutter {
        ShutterKind kind = ShutterKind::kUnknown;
        std::optional<TravelAxis> travelAxis;
        std::optional<bool> crossesLines;  // the slit's travel runs along the screen's lines
    } shutter;
    // Seconds each curtain takes to cross the whole photo along its travel.
    struct Curtains {
        std::optional<double> openingTravel, closingTravel;
        std::optional<double> openingSpeed, closingSpeed;  // mm/ms across the frame, where its size is given
    } curtains;
    // A slit's exposure at the start, middle and end of its travel across the whole photo,
    // seconds, and log2(end / start).
    struct Across {
        std::optional<double> start, centre, end, taperStops;
    } exposureAcross;
    // Where the photo leaves the count of refreshes open: the exposures (line periods) it
    // allows, the one taken first.
    std::vector<double> candidateLines;

    std::vector<std::string> notes;       // what could not be read, and why
    std::vector<Reading> photos;          // a pair's two readings, each alone
    Findings findings;

    std::optional<double> ExposureSeconds() const;
    std::optional<double> UncertaintySeconds() const;
    std::optional<double> ResponseSeconds() const;
};

// Throws ReadError when no pattern is found, or it is too small or too blurred to read.
Reading ReadPhoto(const Photo& photo, const ReadOptions& options);

// Two photographs of a slit that travels along the scan, the second taken with the camera
// upside down: the slit moves with the beam in one and against it in the other, and the
// two band heights give the exposure and the slit's speed. Throws ReadError when the two
// are no such pair (the bands alike: a leaf shutter's, or not of one screen).
Reading ReadPair(const Photo& first, const Photo& second, const ReadOptions& options);

}  // namespace velmaro::photo
