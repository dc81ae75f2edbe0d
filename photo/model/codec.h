// Image files: JPEG through libjpeg-turbo and PNG through libpng, straight to and from
// the 8-bit pictures the program works with. (A general decoder would bring dozens of
// libraries into every start of the program, and copies and colour conversions into
// every reading.)
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmaro::photo {

// An image file's bytes that cannot be decoded, with the reason.
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What decoding keeps: one channel, the green of a colour image or the grey of a grey one.
struct DecodedChannel {
    cv::Mat1b pixels;
    bool colour = false;
};

// JPEG or PNG, told by the bytes; throws DecodeError.
DecodedChannel DecodeSharpChannel(const std::vector<std::uint8_t>& bytes);

// The whole image, 8-bit, blue-green-red or grey; throws DecodeError.
cv::Mat DecodeImage(const std::vector<std::uint8_t>& bytes);

// "jpg" (for .jpg and .jpeg) or "png" from a path's extension, any case; empty for
// anything else.
std::string ImageKind(const std::string& path);

// An 8-bit image (blue-green-red or grey) as a file of the given kind ("jpg" or "png");
// a colour JPEG keeps its chroma at half resolution each way (4:2:0), or whole (4:4:4).
std::vector<std::uint8_t> EncodeImage(const cv::Mat& image, const std::string& kind, int jpegQuality,
                                      bool halveChroma = true);

// Pixels each way at most: more is no photograph but a trap.
constexpr double kLargestImage = 400e6;

}  // namespace velmaro::photo
