// A photograph as the reader uses it: the sharp channel, 8-bit as encoded. On a colour
// CRT the green phosphor falls fastest, so green draws the band's edges sharply while
// red glows on; a grey photograph has only its one channel. JPEG files, the usual
// case, are decoded straight into that channel. JPEG and PNG are read.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmaro::photo {

// A file that cannot be read as a photograph of the pattern, with the reason.
struct ReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Photo {
    cv::Mat1b sharp;  // sRGB values of the sharp channel; LinearOf8Bit gives the light
    bool colour = false;
};

// Throws ReadError for a missing file or one that is not an image.
Photo LoadPhoto(const std::string& path);

// The same from a file's bytes.
Photo DecodePhoto(const std::vector<std::uint8_t>& bytes);

// A file's bytes; throws ReadError.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

}  // namespace velmaro::photo
