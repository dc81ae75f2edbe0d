// How a screen turns pictures into light, integrated over an exposure window in closed
// form. A CRT pixel glows only after the beam passes it (phosphor impulse response, a
// sum of exponentials per colour channel); an LCD or OLED pixel holds its level and
// moves toward each new one exponentially.
#pragma once

#include <array>
#include <vector>

#include "photo/simulate/schedule.h"

namespace velmaro::photo {

struct Exponential {
    double weight = 1;  // share of the light
    double tau = 0;     // time constant, seconds
};
using Impulse = std::vector<Exponential>;  // weights add up to 1

constexpr int kChannels = 3;  // red, green, blue
using Phosphor = std::array<Impulse, kChannels>;

// A P22-like colour phosphor: green and blue fall within a few microseconds and keep a
// weak slow tail; red has components of up to about half a millisecond.
Phosphor DefaultPhosphor();

// Weights scaled to add up to 1; throws std::invalid_argument for negative or empty ones.
Impulse Normalised(Impulse impulse);

// Light that one pixel gathers in an exposure window, per picture phase and channel,
// as a function of sigma: when the pixel is scanned in refresh 0, counted from the
// window's opening. Refresh k scans it at k * frame period + sigma. A pixel of linear
// level I_p in phase p gathers sum over p of I_p * At(channel, p, sigma).
struct WindowWeights {
    double first = 0, step = 1;  // sigma of entry 0, and between entries
    int count = 0;
    std::vector<float> values;   // [channel][phase][entry]

    // Where sigma falls between two entries, found once for all channels and phases.
    struct Place {
        int entry;
        double fraction;
    };
    Place PlaceOf(double sigma) const;
    double At(int channel, int phase, Place place) const;
    double At(int channel, int phase, double sigma) const { return At(channel, phase, PlaceOf(sigma)); }
};

struct Window {
    double framePeriod = 0;  // seconds
    double exposure = 0;     // seconds
    Schedule schedule;
};

// CRT: 1 is one full pass of the beam over a white pixel whose glow falls wholly inside
// the window.
WindowWeights CrtWeights(const Phosphor& phosphor, const Window& window, double sigmaFirst, double sigmaLast,
                         double step);

// LCD: the share of the window, for a panel whose 10-90 % response takes `response`
// seconds. One channel: the panel's response is the same for every colour.
WindowWeights LcdWeights(double response, const Window& window, double sigmaFirst, double sigmaLast, double step);

}  // namespace velmaro::photo
