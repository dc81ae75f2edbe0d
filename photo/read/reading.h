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

struct ReadOptions {
    int width = 1024, height = 768;
    std::optional<double> refreshHz;
    std::optional<int> vtotal;
    std::optional<double> hfreqKhz;
    std::optional<DisplayKind> display;  // told from the photo when not given
};

// What was found where, for drawing it on the photo.
struct Findings {
    std::vector<std::vector<cv::Point2f>> pieces;  // outlines of the lit parts
    std::vector<cv::Matx33d> grids;                // screen (column, line coordinate) to photo, numbered ones
    std::vector<std::pair<double, double>> gridLines;  // line coordinate extent of each grid
    std::optional<double> startEdge, endEdge;     // line coordinates at the screen's middle
    double startSlope = 0, endSlope = 0;          // lines per column
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
    std::vector<std::string> notes;       // what could not be read, and why
    Findings findings;

    std::optional<double> ExposureSeconds() const;
    std::optional<double> UncertaintySeconds() const;
    std::optional<double> ResponseSeconds() const;
};

// Throws ReadError when no pattern is found, or it is too small or too blurred to read.
Reading ReadPhoto(const Photo& photo, const ReadOptions& options);

}  // namespace velmaro::photo
