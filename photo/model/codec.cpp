#include "photo/model/codec.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <string>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <opencv2/core.hpp>

namespace velmaro::photo {

namespace {

constexpr int kSmallest = 32;  // pixels each way: anything smaller holds no readable pattern
// Pixels that one byte of a file may hold. Coded lines of stripes and sensor noise take
// far more than this; only a cut or forged header claims more, and it would have the
// decoders allocate and fill gigabytes for a file of a few hundred bytes.
constexpr double kMostPixelsPerByte = 1024;

void CheckSize(double width, double height, std::size_t fileBytes) {
    if (width < kSmallest || height < kSmallest) throw DecodeError("the image is too small to hold the pattern");
    if (width * height > kLargestImage) throw DecodeError("the image is too large");
    if (width * height > kMostPixelsPerByte * static_cast<double>(fileBytes))
        throw DecodeError("the file is too short for an image of " + std::to_string(static_cast<long long>(width)) + "x" +
                          std::to_string(static_cast<long long>(height)) + " pixels");
}

bool IsJpeg(const std::vector<std::uint8_t>& b) { return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF; }
bool IsPng(const std::vector<std::uint8_t>& b) { return b.size() >= 8 && png_sig_cmp(b.data(), 0, 8) == 0; }

// libjpeg reports errors by calling error_exit, which must not return: it jumps back.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->back, 1);
}

// Warnings pass, but for coded data that ends before the image does (a cut or damaged
// file): libjpeg would make up the rest, and a made-up part of a photograph must not be
// read as if it had been seen. (The end of the file alone is no sign: the decoder looks
// ahead, and some files lack their end marker.)
void OnJpegWarning(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_HIT_MARKER) OnJpegError(info);
}

// What libjpeg's error path may leave behind lives on the heap, behind a pointer that
// does not change after setjmp: locals changed in between would be indeterminate.
struct JpegDecoding {
    jpeg_decompress_struct info{};
    JpegError error{};
    cv::Mat out;
    cv::Mat batch;
    bool created = false;
    ~JpegDecoding() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

// Green of red-green-blue-x pixels, four bytes each.
void GreenOfQuads(const std::uint8_t* __restrict quads, int width, std::uint8_t* __restrict green) {
    for (int x = 0; x < width; ++x) green[x] = quads[4 * x + 1];
}

// all: every channel (blue-green-red), else only the sharp one.
cv::Mat DecodeJpeg(const std::vector<std::uint8_t>& bytes, bool all, bool& colour) {
    const auto d = std::make_unique<JpegDecoding>();
    jpeg_decompress_struct& info = d->info;
    info.err = jpeg_std_error(&d->error.manager);
    d->error.manager.error_exit = OnJpegError;
    d->error.manager.emit_message = OnJpegWarning;
    if (setjmp(d->error.back)) throw DecodeError(std::string("not a readable JPEG image: ") + d->error.message);
    jpeg_create_decompress(&info);
    d->created = true;
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
    if (!grey && info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_RGB)
        throw DecodeError("unsupported JPEG colour space");
    CheckSize(info.image_width, info.image_height, bytes.size());
    colour = !grey;
    // The sharp channel alone comes as the second byte of four, which a compiler takes out
    // many pixels at a time (OpenCV's channel extraction takes one byte at a time).
    info.out_color_space = grey ? JCS_GRAYSCALE : all ? JCS_EXT_BGR : JCS_EXT_RGBX;
    // The screen is grey: its colour carries nothing that smooth chroma upsampling
    // or the slow exact inverse DCT would add, and both cost a third of the time.
    info.do_fancy_upsampling = FALSE;
    info.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&info);
    const int channels = grey || !all ? 1 : 3;
    d->out.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width), CV_8UC(channels));
    // Rows come a batch at a time; for the sharp channel alone, green is taken out of
    // each batch at once.
    constexpr int kBatch = 16;
    const bool direct = channels == static_cast<int>(info.output_components);
    if (!direct) d->batch.create(kBatch, static_cast<int>(info.output_width), CV_8UC4);
    while (info.output_scanline < info.output_height) {
        const int first = static_cast<int>(info.output_scanline);
        const int count = std::min<int>(kBatch, static_cast<int>(info.output_height) - first);
        JSAMPROW rows[kBatch];
        for (int i = 0; i < count; ++i) rows[i] = direct ? d->out.ptr<std::uint8_t>(first + i) : d->batch.ptr<std::uint8_t>(i);
        int done = 0;
        while (done < count) {
            const auto read = jpeg_read_scanlines(&info, rows + done, static_cast<JDIMENSION>(count - done));
            if (read == 0) throw DecodeError("not a readable JPEG image: its data stops");
            done += static_cast<int>(read);
        }
        if (!direct)
            for (int i = 0; i < count; ++i) GreenOfQuads(d->batch.ptr<std::uint8_t>(i), static_cast<int>(info.output_width), d->out.ptr<std::uint8_t>(first + i));
    }
    jpeg_finish_decompress(&info);
    return d->out;
}

cv::Mat DecodePng(const std::vector<std::uint8_t>& bytes, bool all, bool& colour) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
        throw DecodeError(std::string("not a readable PNG image: ") + image.message);
    const auto finish = [&image] { png_image_free(&image); };
    try {
        CheckSize(image.width, image.height, bytes.size());
    } catch (...) {
        finish();
        throw;
    }
    colour = image.format & PNG_FORMAT_FLAG_COLOR;
    image.format = colour ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;  // 8-bit sRGB, alpha composed on black
    cv::Mat out(static_cast<int>(image.height), static_cast<int>(image.width), colour ? CV_8UC3 : CV_8UC1);
    if (!png_image_finish_read(&image, nullptr, out.data, static_cast<png_int_32>(out.step), nullptr)) {
        const std::string message = image.message;
        finish();
        throw DecodeError("not a readable PNG image: " + message);
    }
    finish();
    if (colour && !all) {
        cv::Mat1b green;
        cv::extractChannel(out, green, 1);
        return green;
    }
    return out;
}

cv::Mat Decode(const std::vector<std::uint8_t>& bytes, bool all, bool& colour) {
    if (bytes.empty()) throw DecodeError("the file is empty");
    if (IsJpeg(bytes)) return DecodeJpeg(bytes, all, colour);
    if (IsPng(bytes)) return DecodePng(bytes, all, colour);
    throw DecodeError("not a JPEG or PNG image");
}

struct JpegEncoding {
    jpeg_compress_struct info{};
    JpegError error{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool created = false;
    ~JpegEncoding() {
        if (created) jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};

std::vector<std::uint8_t> EncodeJpeg(const cv::Mat& image, int quality, bool halveChroma) {
    const auto e = std::make_unique<JpegEncoding>();
    jpeg_compress_struct& info = e->info;
    info.err = jpeg_std_error(&e->error.manager);
    e->error.manager.error_exit = OnJpegError;
    if (setjmp(e->error.back)) throw std::runtime_error(std::string("cannot encode the JPEG image: ") + e->error.message);
    jpeg_create_compress(&info);
    e->created = true;
    jpeg_mem_dest(&info, &e->buffer, &e->size);
    info.image_width = static_cast<JDIMENSION>(image.cols);
    info.image_height = static_cast<JDIMENSION>(image.rows);
    info.input_components = image.channels();
    info.in_color_space = image.channels() == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::clamp(quality, 0, 100), TRUE);
    if (!halveChroma) info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<std::uint8_t*>(image.ptr<std::uint8_t>(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return std::vector<std::uint8_t>(e->buffer, e->buffer + e->size);
}

struct PngEncoding {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> bytes;
    ~PngEncoding() { png_destroy_write_struct(&png, &info); }
};

void AppendPng(png_structp png, png_bytep data, png_size_t length) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + length);
}

void FlushPng(png_structp) {}

// The classic interface: the simple one compresses at zlib's default level, which takes
// seconds for a large photograph.
std::vector<std::uint8_t> EncodePng(const cv::Mat& image) {
    const auto e = std::make_unique<PngEncoding>();
    e->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (e->png) e->info = png_create_info_struct(e->png);
    if (!e->png || !e->info) throw std::runtime_error("cannot encode the PNG image");
    if (setjmp(png_jmpbuf(e->png))) throw std::runtime_error("cannot encode the PNG image");
    png_set_write_fn(e->png, &e->bytes, AppendPng, FlushPng);
    png_set_IHDR(e->png, e->info, static_cast<png_uint_32>(image.cols), static_cast<png_uint_32>(image.rows), 8,
                 image.channels() == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(e->png, 3);
    png_set_filter(e->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
    png_write_info(e->png, e->info);
    if (image.channels() == 3) png_set_bgr(e->png);
    for (int y = 0; y < image.rows; ++y) png_write_row(e->png, const_cast<png_bytep>(image.ptr<std::uint8_t>(y)));
    png_write_end(e->png, nullptr);
    return std::move(e->bytes);
}

}  // namespace

std::string ImageKind(const std::string& path) {
    const auto dot = path.find_last_of('.'), slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && slash > dot)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (extension == "jpg" || extension == "jpeg") return "jpg";
    if (extension == "png") return "png";
    return "";
}

DecodedChannel DecodeSharpChannel(const std::vector<std::uint8_t>& bytes) {
    DecodedChannel decoded;
    decoded.pixels = Decode(bytes, false, decoded.colour);
    return decoded;
}

cv::Mat DecodeImage(const std::vector<std::uint8_t>& bytes) {
    bool colour = false;
    return Decode(bytes, true, colour);
}

std::vector<std::uint8_t> EncodeImage(const cv::Mat& image, const std::string& kind, int jpegQuality, bool halveChroma) {
    if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3))
        throw std::runtime_error("only 8-bit grey or colour images are written");
    if (kind == "jpg") return EncodeJpeg(image, jpegQuality, halveChroma);
    if (kind == "png") return EncodePng(image);
    throw std::runtime_error("cannot write images of kind " + kind);
}

}  // namespace velmaro::photo
