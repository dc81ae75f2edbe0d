// How a screen turns pictures into light over time. A CRT pixel glows only after the
// beam passes it (phosphor impulse response, a sum of exponentials per colour channel);
// an LCD or OLED pixel holds its level, its drive moving toward each new level
// exponentially and its light following the drive through the panel's gamma.
//
// The light is tabulated as what a pixel has given off since a common origin, against
// the time since its scan in refresh 0; the light of any window [opening, closing) is
// then a difference of two look-ups, so that every pixel may have a window of its own.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "photo/model/pictures.h"
#include "photo/simulate/schedule.h"

namespace velmaro::photo {

struct Exponential {
    double weight = 1;  // share of the light
    double tau = 0;     // time constant, seconds
};
using Impulse = std::vector<Exponential>;  // weights add up to 1

constexpr int kChannels = 3;  // red, green, blue
constexpr int kRed = 0, kGreen = 1, kBlue = 2;
using Phosphor = std::array<Impulse, kChannels>;

// A P22-like colour phosphor: green and blue fall within a few microseconds and keep a
// weak slow tail; red has components of up to about half a millisecond.
Phosphor DefaultPhosphor();

// Weights scaled to add up to 1; throws std::invalid_argument for negative or empty ones.
Impulse Normalised(Impulse impulse);

// An LCD or OLED panel. The drive level (0 black ... 1 white, as the picture's 8-bit value
// over 255) moves toward each new picture's level exponentially, faster or slower when it
// falls than when it rises; the light is the drive through the panel's gamma, over a
// black that leaks a little.
struct Panel {
    double response = 1e-3;  // 10-90 % of the drive's rise, seconds
    double fallRatio = 1;    // the fall's time constant over the rise's
    double gamma = 0;        // light = drive^gamma; 0: the sRGB curve
    double leak = 0;         // black's light, as a share of white's
    double rowMatrix = 0;    // dark share of each line's height, between the rows of pixels
};

// Light of a drive level held still, 0 ... 1.
double PanelLight(const Panel& panel, double drive);

// The levels a pixel shows in each phase (8-bit), a key to the LCD's light.
using Levels = std::array<std::uint8_t, kPhases>;

// A table over time t (seconds since the pixel's scan in refresh 0) of the light a pixel
// has given off since the origin, by channel and kind: for a CRT the kind is the phase
// (light of a pixel of linear level 1 in that phase and 0 in the others), for an LCD one
// of the level sequences it was made for.
struct LightTable {
    double first = 0, step = 1;  // t of entry 0, and between entries
    int count = 0, kinds = kPhases;
    std::vector<float> values;  // [channel][kind][entry]

    // Where t falls between two entries, found once for all channels and kinds.
    struct Place {
        int entry;
        double fraction;
    };
    Place PlaceOf(double t) const;
    double At(int channel, int kind, Place place) const;
    double At(int channel, int kind, double t) const { return At(channel, kind, PlaceOf(t)); }
};

// The times a table covers, and the refresh from which light is counted: the pixel is
// scanned at k * framePeriod for every refresh k from `origin` on.
struct TableSpan {
    double framePeriod = 0;
    std::int64_t origin = 0;
    double first = 0, last = 0, step = 1;
};

// The earliest refresh whose light can still reach time t: older glow or an older
// picture on the panel is below any sensor.
std::int64_t Origin(const Phosphor& phosphor, double framePeriod, double t);
std::int64_t Origin(const Panel& panel, double framePeriod, double t);

// CRT: 1 is one full pass of the beam over a pixel of linear level 1.
LightTable CrtLight(const Phosphor& phosphor, const Schedule& schedule, const TableSpan& span);

// LCD: one channel, one kind per sequence of levels; 1 is white held for `unit` seconds.
LightTable LcdLight(const Panel& panel, const Schedule& schedule, const std::vector<Levels>& sequences,
                    const TableSpan& span, double unit);

// The shares of an exposure window by phase, against sigma, when the pixel is scanned in
// refresh 0 counted from the window's opening, for a panel whose light follows each new
// level linearly (gamma 1, alike rise and fall): a model of an LCD's changed bar.
struct Window {
    double framePeriod = 0;  // seconds
    double exposure = 0;     // seconds
    Schedule schedule;
};
using WindowWeights = LightTable;
WindowWeights LcdWeights(double response, const Window& window, double sigmaFirst, double sigmaLast, double step);

}  // namespace velmaro::photo
