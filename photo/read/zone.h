// The change zone of an LCD or OLED: every pixel shows light all the time, and the
// picture changes down the screen where the scan passed while the shutter was open.
// A bar that the new picture changes shows, on each line, the share of the window
// before the line was rewritten: it rises from 0 to 1 across the zone, blurred by the
// panel's response, which the fit takes out and reports.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace velmaro::photo {

struct ChangeZone {
    int oldPhase = 0, newPhase = 0;
    std::optional<int> laterPhase;  // the zone runs on after the blanking into a second refresh
    // Line coordinates of the scan (at a refresh's start 0) when the shutter opened and
    // closed; start may be negative (in the blanking before) and the end past the
    // height (in the blanking after, or wrapped into the next refresh).
    double start = 0, length = 0;
    double lengthError = 0;      // standard error, lines
    double response = 0;         // the panel's 10-90 % response, lines
};

// From the bar shares of each line (row n - 1, see BarSharesByLine). vtotal is needed
// only for a zone that wraps; the bars' middle column gives the scan's sweep along the line.
std::optional<ChangeZone> FindChangeZone(const cv::Mat1f& barShares, double barColumn, int width,
                                         std::optional<int> vtotal, std::string& why);

}  // namespace velmaro::photo
