// The sRGB transfer curve, between linear light (0 ... 1) and encoded values (0 ... 1).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

namespace velmaro::photo {

inline double SrgbToLinear(double encoded) {
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

inline double LinearToSrgb(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// Linear light of each 8-bit encoded value.
inline const std::array<float, 256>& LinearOf8Bit() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int v = 0; v < 256; ++v) t[v] = static_cast<float>(SrgbToLinear(v / 255.0));
        return t;
    }();
    return table;
}

}  // namespace velmaro::photo
