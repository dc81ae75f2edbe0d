#include "photo/cli/marked.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "photo/cli/speed.h"

namespace velmaro::photo {

namespace fs = std::filesystem;

namespace {

fs::path Key(const fs::path& path) {
    return fs::absolute(path).lexically_normal();
}

// One CSV field: spaces around it and quotes around that taken off.
std::string Field(std::string text) {
    const auto first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t\r");
    text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return text;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in || fs::is_directory(path)) throw std::invalid_argument("cannot read the marked speeds' CSV " + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string Name(MarkedFrom from) {
    switch (from) {
        case MarkedFrom::kExif:
            return "exif";
        case MarkedFrom::kName:
            return "name";
        case MarkedFrom::kCsv:
            return "csv";
    }
    return "";
}

std::string Description(MarkedFrom from) {
    switch (from) {
        case MarkedFrom::kExif:
            return "its EXIF";
        case MarkedFrom::kName:
            return "its name";
        case MarkedFrom::kCsv:
            return "the CSV";
    }
    return "";
}

MarkedSource ParseMarkedSource(const std::string& text) {
    if (text == "auto") return {};
    if (text == "exif") return {MarkedFrom::kExif, ""};
    if (text == "name") return {MarkedFrom::kName, ""};
    return {MarkedFrom::kCsv, text};
}

MarkedList ParseMarkedCsv(const std::string& text, const fs::path& folder, const std::string& name) {
    MarkedList list;
    std::stringstream lines(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (Field(line).empty()) continue;
        const auto comma = line.rfind(',');
        const std::string where = name + " line " + std::to_string(number);
        if (comma == std::string::npos)
            throw std::invalid_argument(where + " is not file,marked: \"" + Field(line) + "\"");
        const std::string file = Field(line.substr(0, comma)), marked = Field(line.substr(comma + 1));
        if (number == 1 && file == "file" && marked == "marked") continue;
        list[Key(folder / file)] = ParseSpeed(marked, where + ": the marked speed");
    }
    return list;
}

MarkedList MarkedListFor(const MarkedSource& source, const std::vector<std::string>& photos) {
    if (source.only == MarkedFrom::kCsv)
        return ParseMarkedCsv(FileText(source.csv), fs::path(source.csv).parent_path(), source.csv);
    if (source.only) return {};
    std::set<fs::path> folders;
    for (const std::string& photo : photos) folders.insert(Key(photo).parent_path());
    MarkedList list;
    for (const fs::path& folder : folders) {
        const fs::path csv = folder / kMarkedCsvName;
        if (fs::is_regular_file(csv)) list.merge(ParseMarkedCsv(FileText(csv.string()), folder, csv.string()));
    }
    return list;
}

std::optional<Marked> MarkedSpeedOf(const std::string& photo, const std::optional<double>& exifSeconds,
                                    const MarkedSource& source, const MarkedList& list) {
    auto wanted = [&](MarkedFrom from) { return !source.only || *source.only == from; };
    if (wanted(MarkedFrom::kExif) && exifSeconds) return Marked{*exifSeconds, MarkedFrom::kExif};
    if (wanted(MarkedFrom::kName))
        if (auto seconds = SpeedInFileName(fs::path(photo).filename().string()))
            return Marked{*seconds, MarkedFrom::kName};
    if (wanted(MarkedFrom::kCsv)) {
        const auto found = list.find(Key(photo));
        if (found != list.end()) return Marked{found->second, MarkedFrom::kCsv};
    }
    return std::nullopt;
}

std::string WhyNoMarkedSpeed(const MarkedSource& source) {
    const std::string exif = "no EXIF exposure time", name = "no speed at the start of its name (1-250, 1_250, 1s)";
    if (!source.only) return exif + ", " + name + ", and not in a " + kMarkedCsvName + " beside it";
    switch (*source.only) {
        case MarkedFrom::kExif:
            return exif;
        case MarkedFrom::kName:
            return name;
        case MarkedFrom::kCsv:
            return "not in " + source.csv;
    }
    return "";
}

}  // namespace velmaro::photo
