// Reading the ruler bitmap: a BITMAPFILEHEADER, a BITMAPINFOHEADER, a colour table and
// 8-bit rows stored bottom-up.
#include "photo/model/ruler.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace velmaro::photo {

extern const std::uint8_t kRulerBitmap[];
extern const std::size_t kRulerBitmapSize;

namespace {

std::uint32_t Read32(const std::uint8_t* data) {
    return data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}
std::uint16_t Read16(const std::uint8_t* data) { return static_cast<std::uint16_t>(data[0] | data[1] << 8); }

[[noreturn]] void Refuse(const std::string& why) { throw std::runtime_error("ruler bitmap: " + why); }

}  // namespace

Ruler ParseRuler(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kFileHeader = 14, kInfoHeader = 40;
    if (size < kFileHeader + kInfoHeader || data[0] != 'B' || data[1] != 'M') Refuse("not a bitmap file");
    const std::uint8_t* info = data + kFileHeader;
    const std::uint32_t pixelsAt = Read32(data + 10);
    const auto width = static_cast<std::int32_t>(Read32(info + 4));
    const auto height = static_cast<std::int32_t>(Read32(info + 8));
    const std::uint16_t bits = Read16(info + 14);
    std::uint32_t colours = Read32(info + 32);
    if (colours == 0) colours = 256;
    if (width != kRulerWidth || height != kRulerHeight || bits != 8) Refuse("not 330 x 768 at 8 bits, bottom-up");
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    const std::size_t tableAt = kFileHeader + Read32(info);
    if (colours > 256 || tableAt + 4 * colours > size || pixelsAt + rowBytes * height > size) Refuse("truncated");

    std::array<std::uint8_t, 256> greyOf{};
    for (std::uint32_t i = 0; i < colours; ++i) {
        const std::uint8_t* entry = data + tableAt + 4 * i;
        if (entry[0] != entry[1] || entry[1] != entry[2]) Refuse("colour " + std::to_string(i) + " is not a grey");
        greyOf[i] = entry[0];
    }
    Ruler ruler{cv::Mat1b(height, width)};
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* stored = data + pixelsAt + rowBytes * static_cast<std::size_t>(height - 1 - row);
        for (int x = 0; x < width; ++x) {
            if (stored[x] >= colours) Refuse("pixel outside the colour table");
            ruler.grey(row, x) = greyOf[stored[x]];
        }
    }
    return ruler;
}

Ruler BuiltInRuler() { return ParseRuler(kRulerBitmap, kRulerBitmapSize); }

}  // namespace velmaro::photo
