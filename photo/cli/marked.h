// Where each photograph's marked speed comes from: its EXIF ExposureTime (digital
// cameras), else the start of its file name (film scans named by a person), else a CSV
// of `file,marked` lines. --marked exif|name|FILE.csv takes only the one.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmaro::photo {

enum class MarkedFrom { kExif, kName, kCsv };
std::string Name(MarkedFrom from);         // "exif", "name", "csv"
std::string Description(MarkedFrom from);  // for people: "its EXIF", "its name", "the CSV"

// What --marked says: every source in turn (auto), or one; the CSV's path for kCsv.
struct MarkedSource {
    std::optional<MarkedFrom> only;
    std::string csv;
};
// "auto", "exif", "name" or a CSV file's path.
MarkedSource ParseMarkedSource(const std::string& text);

// Without --marked, a CSV by this name beside the photographs is the last source.
constexpr char kMarkedCsvName[] = "marked.csv";

// Marked speeds (seconds) by photograph, keyed by the path's absolute, normal form.
using MarkedList = std::map<std::filesystem::path, double>;
// `file,marked` lines (a header line "file,marked" may come first), files relative to
// `folder`; throws std::invalid_argument naming `name` and the line of a bad speed.
MarkedList ParseMarkedCsv(const std::string& text, const std::filesystem::path& folder, const std::string& name);
// The list the source asks for: its CSV, or without --marked the marked.csv beside each
// photograph where there is one. Throws std::invalid_argument for a CSV that cannot be read.
MarkedList MarkedListFor(const MarkedSource& source, const std::vector<std::string>& photos);

struct Marked {
    double seconds = 0;
    MarkedFrom from = MarkedFrom::kExif;
};
// The photograph's marked speed from the first source that has it.
std::optional<Marked> MarkedSpeedOf(const std::string& photo, const std::optional<double>& exifSeconds,
                                    const MarkedSource& source, const MarkedList& list);
// Why a photograph has none, for the person who named it.
std::string WhyNoMarkedSpeed(const MarkedSource& source);

}  // namespace velmaro::photo
