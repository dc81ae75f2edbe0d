#include "photo/cli/exif.h"

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <numeric>
#include <regex>
#include <stdexcept>

#include "photo/cli/speed.h"

namespace velmaro::photo {

namespace {

const char kExposureTime[] = "Exif.Photo.ExposureTime", kMake[] = "Exif.Image.Make", kModel[] = "Exif.Image.Model",
           kTaken[] = "Exif.Photo.DateTimeOriginal";

std::string Text(const Exiv2::ExifData& data, const char* key) {
    const auto found = data.findKey(Exiv2::ExifKey(key));
    if (found == data.end()) return "";
    std::string text = found->toString();
    // ASCII values are padded with NULs and spaces by some cameras.
    const auto end = text.find_last_not_of(std::string(" \0", 2));
    return end == std::string::npos ? "" : text.substr(0, end + 1);
}

std::optional<double> Seconds(const Exiv2::ExifData& data) {
    const auto found = data.findKey(Exiv2::ExifKey(kExposureTime));
    if (found == data.end() || found->count() == 0) return std::nullopt;
    const Exiv2::Rational value = found->toRational();
    if (value.first <= 0 || value.second <= 0) return std::nullopt;
    return static_cast<double>(value.first) / value.second;
}

// Seconds as EXIF's fraction: 1/N where the speed is one, else to a microsecond.
Exiv2::URational Fraction(double seconds) {
    const double over = 1 / seconds;
    if (seconds < 1 && std::abs(over - std::round(over)) < 1e-6 * over)
        return {1, static_cast<std::uint32_t>(std::lround(over))};
    const auto micro = static_cast<std::uint32_t>(std::lround(std::min(seconds, 4000.0) * 1e6));
    const std::uint32_t common = std::gcd(micro, 1000000u);
    return {micro / common, 1000000u / common};
}

}  // namespace

Exif ReadExif(const std::string& path) {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);  // a file without EXIF is no warning here
    try {
        const auto image = Exiv2::ImageFactory::open(path);
        image->readMetadata();
        const Exiv2::ExifData& data = image->exifData();
        return {Seconds(data), Text(data, kMake), Text(data, kModel), Text(data, kTaken)};
    } catch (const std::exception&) {
        return {};  // exiv2's own errors and any other: a file whose EXIF cannot be read has none
    }
}

std::vector<std::uint8_t> WithExif(const std::vector<std::uint8_t>& file, const Exif& exif) {
    if (exif.Empty()) return file;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    try {
        const auto image = Exiv2::ImageFactory::open(file.data(), static_cast<long>(file.size()));
        image->readMetadata();
        Exiv2::ExifData& data = image->exifData();
        if (exif.exposureSeconds) data[kExposureTime] = Fraction(*exif.exposureSeconds);
        if (!exif.make.empty()) data[kMake] = exif.make;
        if (!exif.model.empty()) data[kModel] = exif.model;
        if (!exif.taken.empty()) data[kTaken] = exif.taken;
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
        return {written.pData_, written.pData_ + written.size_};
    } catch (const Exiv2::AnyError& error) {
        throw std::invalid_argument(std::string("cannot write EXIF: ") + error.what());
    }
}

void AddExifOptions(CLI::App& command, ExifOptions& o) {
    command.add_option("--exif-exposure", o.exposure, "EXIF ExposureTime: the speed the camera was set to (1/250, 2s)");
    command.add_option("--exif-make", o.make, "EXIF Make: the camera's maker");
    command.add_option("--exif-model", o.model, "EXIF Model: the camera's model");
    command.add_option("--exif-date", o.taken, "EXIF DateTimeOriginal, \"YYYY:MM:DD HH:MM:SS\"");
}

Exif ExifOf(const ExifOptions& o) {
    Exif exif{std::nullopt, o.make, o.model, o.taken};
    if (!o.exposure.empty()) exif.exposureSeconds = ParseSpeed(o.exposure, "the EXIF exposure");
    static const std::regex date(R"([0-9]{4}:[0-9]{2}:[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2})");
    if (!o.taken.empty() && !std::regex_match(o.taken, date))
        throw std::invalid_argument("the EXIF date is \"YYYY:MM:DD HH:MM:SS\", not \"" + o.taken + "\"");
    return exif;
}

}  // namespace velmaro::photo
