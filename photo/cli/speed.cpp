#include "photo/cli/speed.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <regex>
#include <stdexcept>

#include "photo/cli/arguments.h"

namespace velmaro::photo {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

}  // namespace

double ParseSpeed(const std::string& text, const std::string& what) {
    std::string speed = Trimmed(text);
    if (!speed.empty() && (speed.back() == 's' || speed.back() == 'S'))
        speed = Trimmed(speed.substr(0, speed.size() - 1));
    const double seconds = ParseSeconds(speed, what);
    if (!(seconds > 0)) throw std::invalid_argument(what + " must be above 0: \"" + text + "\"");
    return seconds;
}

std::string SpeedLabel(double seconds) {
    const double over = 1 / seconds;
    if (seconds < 1 && std::abs(over - std::round(over)) < 1e-6 * over) return "1/" + std::to_string(std::lround(over));
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

std::optional<double> SpeedInFileName(const std::string& fileName) {
    // The speed, then anything but a digit or letter that would make it part of a word.
    static const std::regex fraction(R"(^1[-_]([0-9]+)(?![0-9]))"), whole(R"(^([0-9]+(\.[0-9]+)?[sS])(?![A-Za-z0-9]))");
    std::smatch match;
    std::string speed;
    if (std::regex_search(fileName, match, fraction))
        speed = "1/" + match[1].str();
    else if (std::regex_search(fileName, match, whole))
        speed = match[1];
    else
        return std::nullopt;
    try {
        return ParseSpeed(speed, "the speed in the name");
    } catch (const std::invalid_argument&) {
        return std::nullopt;  // 1-0 or 0s: no speed
    }
}

}  // namespace velmaro::photo
