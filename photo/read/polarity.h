// Negatives: a film scanned as it is shows the lit screen dark on a light ground, and its
// densities grow with the logarithm of the light. The reader takes the light back from a
// negative's transmission, as film does, so that the stages after it read a positive.
#pragma once

#include <opencv2/core.hpp>

namespace velmaro::photo {

// Whether the photo looks like a negative: its edge (the room, or the unlit screen of a
// tightly framed one) as bright as the clear film, where a positive's is dark.
bool LooksNegative(const cv::Mat1b& sharp);

// The positive of a negative's channel, as 8-bit sRGB values: the clear film is black,
// and the light grows as the transmission falls, with a film's usual contrast.
cv::Mat1b PositiveOf(const cv::Mat1b& negative);

}  // namespace velmaro::photo
