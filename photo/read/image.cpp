#include "photo/read/image.h"

#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <fstream>

#include "photo/model/codec.h"

namespace velmaro::photo {

namespace {

constexpr std::size_t kLargestFile = std::size_t{1} << 30;

}  // namespace


Photo DecodePhoto(const std::vector<std::uint8_t>& bytes) {
    try {
        DecodedChannel decoded = DecodeSharpChannel(bytes);
        return {decoded.pixels, decoded.colour};
    } catch (const DecodeError& error) {
        throw ReadError(error.what());
    }
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::error_code error;
    using std::filesystem::file_type;
    switch (std::filesystem::status(path, error).type()) {
        case file_type::regular: break;
        case file_type::not_found: throw ReadError("no such file");
        case file_type::directory: throw ReadError("is a directory");
        case file_type::none: throw ReadError("cannot be read: " + error.message());
        default: throw ReadError("not a regular file");  // a pipe or a device could be read for ever
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ReadError("cannot be opened");
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) throw ReadError("cannot be read");
    if (static_cast<std::size_t>(size) > kLargestFile) throw ReadError("the file is too large");
    file.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) throw ReadError("cannot be read");
    return bytes;
}

Photo LoadPhoto(const std::string& path) { return DecodePhoto(ReadFileBytes(path)); }

}  // namespace velmaro::photo
