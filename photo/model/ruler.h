// The ruler bitmap that velmaro.exe shows, and the layout of what is drawn on it.
// Both the simulator and the reader take the screen's picture from here.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmaro::photo {

constexpr int kRulerWidth = 330;
constexpr int kRulerHeight = 768;

// Column ranges of the ruler, inclusive, left half; the right half mirrors them.
constexpr int Mirrored(int column) { return kRulerWidth - 1 - column; }
constexpr int kEdgeStripLast = 4;           // solid black, every line
constexpr double kEdgeStripMiddle = 2.5;    // as a position: the strip covers [0, 5)
constexpr int kMarginFirst = 6;             // white, every line, inside the edge strip
constexpr int kMarginLast = 13;
constexpr int kStripeFirst = 15;            // line stripes: black on even lines
constexpr int kStripeLast = 64;
constexpr int kFifthTickFirst = 75;         // beyond the stripes: dark on every fifth line alone (the fifth's tick, the tenth's row)
constexpr int kFifthTickLast = 84;
constexpr int kTenthTickFirst = 85;         // every tenth line's tick alone: dark on lines 9 to 11 of each ten
constexpr int kTenthTickLast = 115;
constexpr int kTickGapFirst = 136;          // white on every line, between the ticks' arrows and the digits
constexpr int kTickGapLast = 139;
constexpr int kTellingFirst = 65;           // ticks, arrows and labels: what tells lines apart
constexpr int kTellingLast = Mirrored(kTellingFirst);
constexpr int kLabelZoneFirst = 121;        // arrowheads and digits
constexpr int kLabelZoneLast = 208;

// Labels name screen lines 50, 100, ..., 750; odd multiples of 50 have short digits.
constexpr int kLabelStep = 50;
constexpr int kLabelCount = 15;
constexpr int LabelHalfHeight(int label) { return label % 100 == 0 ? 12 : 8; }  // with edge rows

// Grey values (sRGB, 0 black ... 255 white), row-major, top line first.
struct Ruler {
    cv::Mat1b grey;
};

// The ruler from a Windows bitmap file's bytes (8-bit, colour table of greys).
// Throws std::runtime_error when the bytes are no such bitmap.
Ruler ParseRuler(const std::uint8_t* data, std::size_t size);

// The ruler built into this program.
Ruler BuiltInRuler();

}  // namespace velmaro::photo
