// The sRGB transfer curve, between linear light (0 ... 1) and encoded values (0 ... 1).
#pragma once

#include <cmath>

namespace velmaro::photo {

inline double SrgbToLinear(double encoded) {
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

inline double LinearToSrgb(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

}  // namespace velmaro::photo
