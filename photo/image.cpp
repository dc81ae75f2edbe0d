#include "photo/image.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>

#include "photo/srgb.h"

namespace velmaro::photo {

namespace {

constexpr int kGreenInBgr = 1;
constexpr int kSmallest = 32;  // pixels each way: anything smaller holds no readable pattern

}  // namespace

Photo PhotoFrom(const cv::Mat& decoded) {
    if (decoded.empty()) throw ReadError("not an image");
    if (decoded.cols < kSmallest || decoded.rows < kSmallest) throw ReadError("the image is too small to hold the pattern");
    Photo photo;
    cv::Mat eight = decoded;
    if (decoded.depth() == CV_16U) decoded.convertTo(eight, CV_8U, 1.0 / 257);
    else if (decoded.depth() != CV_8U) throw ReadError("unsupported pixel format");
    switch (eight.channels()) {
        case 1: photo.original = eight; break;
        case 3: photo.original = eight; photo.colour = true; break;
        case 4: cv::cvtColor(eight, photo.original, cv::COLOR_BGRA2BGR); photo.colour = true; break;
        default: throw ReadError("unsupported number of channels");
    }
    cv::Mat1b channel;
    if (photo.colour) cv::extractChannel(photo.original, channel, kGreenInBgr);
    else channel = photo.original;
    cv::Mat1f table(1, 256);
    for (int v = 0; v < 256; ++v) table(0, v) = static_cast<float>(SrgbToLinear(v / 255.0));
    cv::LUT(channel, table, photo.sharp);
    return photo;
}

Photo LoadPhoto(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw ReadError("no such file");
    cv::Mat decoded;
    try {
        decoded = cv::imread(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    } catch (const cv::Exception&) {
        throw ReadError("not an image");
    }
    return PhotoFrom(decoded);
}

}  // namespace velmaro::photo
