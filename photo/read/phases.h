// Which pictures a CRT exposure saw, from the bars beside the band: the phase shown when
// the shutter opened and when it closed, how many refreshes the window touched, and the
// pictures that stayed up for more than one refresh.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

#include "photo/read/band.h"

namespace velmaro::photo {

struct BandPhases {
    int passes = 0;  // refreshes that lit the lines outside the band, as the bars confirm the levels' guess
    std::optional<int> first, last;  // the phases at the opening and the closing
    int refreshes = 0;
    std::optional<int> repeatedPictures;
    std::vector<std::string> notes;  // what the bars could not tell
};

// From the bar shares of each line (see BarSharesByLine) and the band they lie around.
BandPhases PhasesOfBand(const cv::Mat1f& barShares, const Band& band);

}  // namespace velmaro::photo
