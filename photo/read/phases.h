// Which pictures a CRT exposure saw, from the bars beside the band: the phase shown when
// the shutter opened and when it closed, how many refreshes the window touched, and the
// pictures that stayed up for more than one refresh.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

#include "photo/read/band.h"
#include "photo/read/bars.h"

namespace velmaro::photo {

struct BandPhases {
    int passes = 0;  // refreshes that lit the lines outside the band, as the bars confirm the levels' guess
    std::vector<int> passCandidates;  // every count the photo allows, the likeliest (passes) first
    bool ranked = true;               // whether the levels ranked them (not where white is clipped)
    std::optional<int> first, last;  // the phases at the opening and the closing
    int refreshes = 0;
    std::optional<int> repeatedPictures;
    std::vector<std::string> notes;  // what the bars could not tell
};

// From the bar shares of each line (see BarSharesByLine) and the band they lie around.
BandPhases PhasesOfBand(const cv::Mat1f& barShares, const Band& band);

// Where every line holds the same pictures' light (nothing changed on the screen while the
// shutter was open, both ends in the blanking): the mean shares, else nullopt.
std::optional<BarShares> EvenShares(const cv::Mat1f& barShares);

// How many of the five pictures show in those shares.
int PhasesSeen(const BarShares& shares);

// The counts of whole refreshes whose pictures those shares fit, the likeliest first.
std::vector<int> WholeRefreshCandidates(const BarShares& shares);

}  // namespace velmaro::photo
