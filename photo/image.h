// A photograph as the reader uses it: the sharp channel in linear light. On a colour
// CRT the green phosphor falls fastest, so green draws the band's edges sharply while
// red glows on; a grey photograph has only its one channel.
#pragma once

#include <opencv2/core.hpp>

#include <stdexcept>
#include <string>

namespace velmaro::photo {

// A file that cannot be read as a photograph of the pattern, with the reason.
struct ReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Photo {
    cv::Mat original;  // as decoded: 8-bit, blue-green-red or grey
    cv::Mat1f sharp;   // linear light of the sharp channel, 0 ... 1
    bool colour = false;
};

// Throws ReadError for a missing file or one that is not an image.
Photo LoadPhoto(const std::string& path);

// The same from an image already decoded (8- or 16-bit, 1, 3 or 4 channels).
Photo PhotoFrom(const cv::Mat& decoded);

}  // namespace velmaro::photo
