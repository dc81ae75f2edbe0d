// The exposure window of an LCD or OLED: every pixel shows light all the time, and a line
// changes its picture when the scan rewrites it. On each line, bar j shows the share of
// the window that the line spent in pictures where the bar is white; down the screen
// those shares ramp where the scan passed while the shutter was open, by one window's
// length per line. The window's place and length, and the pictures around it, are fitted
// to every line's bars at once, with the panel's response (rise and fall apart), which
// blurs the ramps' ends and is reported.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace velmaro::photo {

struct ChangeZone {
    int firstPhase = 0, lastPhase = 0;  // the pictures shown when the shutter opened and closed
    int refreshes = 1;                  // refreshes that scanned a visible line while it was open
    // Line coordinate of the scan (at a refresh's start 0) when the shutter opened, in
    // the refresh it opened in: up to the vertical total, past the height in the blanking.
    double start = 0;
    double length = 0, lengthError = 0;  // lines, and the fit's standard error
    double startError = 0;
    double response = 0;                 // the panel's slower 10-90 % response, lines
};

// From the bar shares of each line (row n - 1, see BarSharesByLine); the bars' middle
// column gives the scan's sweep along the line. Without the vertical total a window over
// more than one refresh cannot be placed.
std::optional<ChangeZone> FindChangeZone(const cv::Mat1f& barShares, double barColumn, int width,
                                         std::optional<int> vtotal, std::string& why);

}  // namespace velmaro::photo
