// What a simulated photograph really shows: the exposure in lines and seconds, where
// it began and ended on the screen, the refreshes and pictures it saw, how the screen
// lies in the photo and what the shutter did. The names are those of a reading, so that
// the two can be compared field by field.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

#include "photo/simulate/simulate.h"

namespace velmaro::photo {

struct Truth {
    double exposureLines = 0, exposureSeconds = 0;  // for a slit, at the middle of its travel
    // The first and last visible lines scanned while the shutter was open (at the
    // screen's centre column), with the phase of the picture they showed. An opening or
    // closing during the vertical blanking is marked, and the first line is then line 1
    // of the next refresh, the last one the bottom line of the refresh before.
    std::optional<int> firstLine, lastLine;
    std::optional<int> firstPhase, lastPhase;
    double startPosition = 0, endPosition = 0;  // lines since the top of their refresh, with fraction
    bool startInBlanking = false, endInBlanking = false;
    int refreshes = 0;           // with at least one visible line scanned in the window
    int repeatedPictures = 0;    // pictures that those refreshes showed more than once
    double slantLines = 0;       // how far the band drops from the screen's left edge to its right
    std::vector<int> labelsLit;  // labels whose digits lie wholly on lines lit in the window

    // Where the screen's top points, counter-clockwise from the photo's top (0 to 360),
    // and whether its columns run the other way (right to left when upright).
    double rotationDeg = 0;
    bool mirrored = false;
    bool negative = false;
    // A slit's travel runs along the screen's lines (the band slants) or along its
    // columns (the band stretches or shrinks).
    std::optional<bool> crossesLines;
    // A slit's exposure at the start and end of its travel across the whole photo.
    std::optional<double> exposureStart, exposureEnd;
    // A slit along the scan: the band's height, and the slit's speed in screen lines a
    // second, positive along the beam.
    std::optional<double> bandLines, slitSpeed;
};

Truth TruthOf(const Scene& scene, const cv::Matx33d& screenToPhoto);

// Whether line n (1-based) is scanned, at the screen's centre column, while the shutter
// is open there.
bool LineLit(const Scene& scene, const Projection& projection, int n);

// The truth with the scene that made it, as JSON.
nlohmann::ordered_json TruthJson(const Truth& truth, const Scene& scene, const cv::Matx33d& screenToPhoto);

}  // namespace velmaro::photo
