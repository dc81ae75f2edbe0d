// The photograph with what the reader found drawn on it: the lit parts, the ruler's
// outline, line numbers beside the labels, the band or change zone, and the phases.
#pragma once

#include <opencv2/core.hpp>

#include "photo/read/reading.h"

namespace velmaro::photo {

// A colour copy of the photo (blue-green-red, 8-bit) with the findings drawn on it.
cv::Mat Annotate(const cv::Mat& original, const Reading& reading);

}  // namespace velmaro::photo
