#include "photo/cli/arguments.h"

#include <cmath>
#include <stdexcept>

namespace velmaro::photo {

double ParseNumber(const std::string& text, const std::string& what) {
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value))
        throw std::invalid_argument(what + " is not a number: \"" + text + "\"");
    return value;
}

double ParseSeconds(const std::string& text, const std::string& what) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) return ParseNumber(text, what);
    const double over = ParseNumber(text.substr(slash + 1), what);
    if (over == 0) throw std::invalid_argument(what + " divides by 0");
    return ParseNumber(text.substr(0, slash), what) / over;
}

std::pair<int, int> ParseSize(const std::string& text, const std::string& what) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) throw std::invalid_argument(what + " is WIDTHxHEIGHT, not \"" + text + "\"");
    const double width = ParseNumber(text.substr(0, x), what), height = ParseNumber(text.substr(x + 1), what);
    if (width != std::floor(width) || height != std::floor(height) || width < 1 || height < 1 || width > 100000 ||
        height > 100000)
        throw std::invalid_argument(what + " needs whole numbers from 1 up: \"" + text + "\"");
    return {static_cast<int>(width), static_cast<int>(height)};
}

}  // namespace velmaro::photo
