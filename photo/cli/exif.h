// The EXIF facts a shutter test uses: the exposure time the camera set, which camera,
// and when. Read from any photograph, and written into the simulator's, so that a
// session of simulated photographs carries its marked speeds as a camera's would.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmaro::photo {

struct Exif {
    std::optional<double> exposureSeconds;  // ExposureTime
    std::string make, model;                // the camera's maker and model
    std::string taken;                      // DateTimeOriginal: "2024:05:01 10:00:00"

    bool Empty() const { return !exposureSeconds && make.empty() && model.empty() && taken.empty(); }
};

// What the file's EXIF holds; nothing where it has none or is no image.
Exif ReadExif(const std::string& path);

// The bytes of a JPEG or PNG with these facts written into its EXIF; unchanged when
// there are none. Throws std::invalid_argument when exiv2 cannot write them.
std::vector<std::uint8_t> WithExif(const std::vector<std::uint8_t>& file, const Exif& exif);

// The simulator's options for them, as text until they are checked.
struct ExifOptions {
    std::string exposure, make, model, taken;
};
void AddExifOptions(CLI::App& command, ExifOptions& options);
// Throws std::invalid_argument for an exposure that is no speed or a date not in EXIF's form.
Exif ExifOf(const ExifOptions& options);

}  // namespace velmaro::photo
