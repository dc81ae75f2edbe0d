// Image files as the reader gets them, from anyone: headers that claim more than the
// file holds, and coded data cut short, are refused with the reason; nothing of the
// picture is made up, and a whole picture is not refused for what follows it.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "photo/model/codec.h"
#include "photo/read/image.h"

using namespace velmaro::photo;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Stripes and noise, which code into about as many bytes as a photograph's pixels do.
cv::Mat1b Busy(int width, int height) {
    cv::Mat1b image(height, width);
    cv::RNG random(7);
    random.fill(image, cv::RNG::UNIFORM, 0, 64);
    for (int y = 0; y < height; y += 2) image.row(y) += 160;
    return image;
}

// What decoding gives: the reason it was refused, or the size of the picture.
std::string Outcome(const Bytes& bytes) {
    try {
        const Photo photo = DecodePhoto(bytes);
        return "decoded " + std::to_string(photo.sharp.cols) + "x" + std::to_string(photo.sharp.rows);
    } catch (const ReadError& error) {
        return std::string("refused: ") + error.what();
    }
}

void PutBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
}

// The baseline frame header's size fields say width x height.
Bytes JpegClaiming(Bytes bytes, int width, int height) {
    for (std::size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            PutBigEndian(bytes, i + 5, static_cast<std::uint32_t>(height), 2);
            PutBigEndian(bytes, i + 7, static_cast<std::uint32_t>(width), 2);
            return bytes;
        }
    }
    ADD_FAILURE() << "no baseline frame header";
    return bytes;
}

// The header chunk (the first, at byte 8) says width x height, with its checksum mended.
Bytes PngClaiming(Bytes bytes, int width, int height) {
    PutBigEndian(bytes, 16, static_cast<std::uint32_t>(width), 4);
    PutBigEndian(bytes, 20, static_cast<std::uint32_t>(height), 4);
    const uLong crc = crc32(0, bytes.data() + 12, 17);  // chunk type and data
    PutBigEndian(bytes, 29, static_cast<std::uint32_t>(crc), 4);
    return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + size); }

}  // namespace

TEST(DecodePhoto, HeadersClaimingMorePixelsThanTheFileCanHoldAreRefusedBeforeDecoding) {
    const Bytes jpeg = EncodeImage(Busy(64, 64), "jpg", 90), png = EncodeImage(Busy(64, 64), "png", 0);
    ASSERT_EQ("decoded 64x64", Outcome(jpeg));
    ASSERT_EQ("decoded 64x64", Outcome(png));
    // Without the check, libjpeg makes up 400 megapixels from these few bytes.
    const struct {
        const char* what;
        Bytes bytes;
        const char* size;
    } cases[] = {
        {"JPEG", JpegClaiming(jpeg, 20000, 20000), "20000x20000"},
        {"JPEG", JpegClaiming(jpeg, 8000, 6000), "8000x6000"},
        {"JPEG, its data cut", Cut(JpegClaiming(jpeg, 20000, 20000), jpeg.size() / 2), "20000x20000"},
        {"PNG", PngClaiming(png, 20000, 20000), "20000x20000"},
    };
    for (const auto& c : cases) {
        const std::string outcome = Outcome(c.bytes);
        EXPECT_EQ(0u, outcome.find("refused: the file is too short for an image of ")) << c.what << ": " << outcome;
        EXPECT_NE(std::string::npos, outcome.find(c.size)) << c.what << ": " << outcome;
    }
}

TEST(DecodePhoto, CodedDataCutShortIsRefusedNotMadeUp) {
    const Bytes jpeg = EncodeImage(Busy(320, 240), "jpg", 90), png = EncodeImage(Busy(320, 240), "png", 0);
    ASSERT_EQ("decoded 320x240", Outcome(jpeg));
    for (const double share : {0.3, 0.6, 0.95}) {
        const std::size_t size = static_cast<std::size_t>(share * jpeg.size());
        const std::string outcome = Outcome(Cut(jpeg, size));
        EXPECT_EQ("refused: not a readable JPEG image: Corrupt JPEG data: premature end of data segment", outcome)
            << size << " of " << jpeg.size() << " bytes";
    }
    // The same header with more lines than its data holds.
    EXPECT_EQ("refused: not a readable JPEG image: Corrupt JPEG data: premature end of data segment",
              Outcome(JpegClaiming(jpeg, 320, 300)));
    const std::string cutPng = Outcome(Cut(png, png.size() / 2));
    EXPECT_EQ(0u, cutPng.find("refused: not a readable PNG image")) << cutPng;
}

TEST(DecodePhoto, AWholePictureIsDecodedWhateverFollowsIt) {
    const Bytes jpeg = EncodeImage(Busy(320, 240), "jpg", 90);
    const cv::Mat1b whole = DecodePhoto(jpeg).sharp;
    Bytes junk = jpeg;
    junk.insert(junk.end(), 100, 0x55);
    for (const Bytes& bytes : {Cut(jpeg, jpeg.size() - 2), junk}) {  // without the end marker; with junk after it
        const std::string outcome = Outcome(bytes);
        ASSERT_EQ("decoded 320x240", outcome) << bytes.size() << " bytes";
        const cv::Mat1b decoded = DecodePhoto(bytes).sharp;
        EXPECT_EQ(0, cv::norm(decoded, whole, cv::NORM_INF)) << bytes.size() << " bytes";
    }
}

TEST(Codec, ImagesComeBackAsWrittenAndOtherBytesAreRefused) {
    cv::Mat3b colour(40, 50, cv::Vec3b(10, 200, 30));
    colour(5, 7) = cv::Vec3b(1, 2, 3);
    const DecodedChannel png = DecodeSharpChannel(EncodeImage(colour, "png", 0));
    EXPECT_TRUE(png.colour);
    EXPECT_EQ(200, png.pixels(0, 0)) << "green";
    EXPECT_EQ(2, png.pixels(5, 7));
    const cv::Mat1b grey(40, 50, 77);
    const DecodedChannel jpeg = DecodeSharpChannel(EncodeImage(grey, "jpg", 95));
    EXPECT_FALSE(jpeg.colour);
    EXPECT_NEAR(77, jpeg.pixels(20, 20), 1);
    std::vector<std::uint8_t> truncated = EncodeImage(grey, "jpg", 95);
    truncated.resize(truncated.size() / 3);
    EXPECT_THROW(DecodeSharpChannel(truncated), DecodeError);
    EXPECT_THROW(DecodeSharpChannel({'h', 'e', 'l', 'l', 'o'}), DecodeError);
    EXPECT_THROW(DecodeSharpChannel(EncodeImage(cv::Mat1b(10, 10, std::uint8_t{0}), "png", 0)), DecodeError) << "too small";
}
