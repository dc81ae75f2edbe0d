#include "photo/simulate/light.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "photo/model/pictures.h"

namespace velmaro::photo {

namespace {

// Glow older than this many time constants is left out: e^-40 is below any sensor.
constexpr double kForgotten = 40;

WindowWeights EmptyTable(int channels, double first, double last, double step) {
    if (!(step > 0) || !(last >= first)) throw std::invalid_argument("bad table range");
    WindowWeights table;
    table.first = first;
    table.step = step;
    table.count = static_cast<int>(std::ceil((last - first) / step)) + 2;
    table.values.assign(static_cast<std::size_t>(channels) * kPhases * table.count, 0.0f);
    return table;
}

float& Entry(WindowWeights& table, int channel, int phase, int i) {
    return table.values[(static_cast<std::size_t>(channel) * kPhases + phase) * table.count + i];
}

// Share of a pass scanned at s (the window being [0, T]) that falls inside the window.
double CapturedShare(const Impulse& impulse, double s, double exposure) {
    if (s >= exposure) return 0;
    double share = 0;
    for (const Exponential& e : impulse) {
        if (e.tau <= 0) {
            share += s >= 0 ? e.weight : 0;
            continue;
        }
        share += e.weight * (std::exp(-std::max(0.0, -s) / e.tau) - std::exp(-(exposure - s) / e.tau));
    }
    return share;
}

double LongestTau(const Impulse& impulse) {
    double longest = 0;
    for (const Exponential& e : impulse) longest = std::max(longest, e.tau);
    return longest;
}

// Integral up to x of the step response 1 - e^(-t/tau) of a first-order panel.
double RampIntegral(double x, double tau) {
    if (x <= 0) return 0;
    if (tau <= 0) return x;
    return x - tau * -std::expm1(-x / tau);
}

}  // namespace

Phosphor DefaultPhosphor() {
    return {{
        {{0.60, 5e-6}, {0.28, 60e-6}, {0.12, 450e-6}},   // red
        {{0.93, 3e-6}, {0.05, 30e-6}, {0.02, 300e-6}},   // green
        {{0.95, 2e-6}, {0.04, 25e-6}, {0.01, 250e-6}},   // blue
    }};
}

Impulse Normalised(Impulse impulse) {
    double total = 0;
    for (const Exponential& e : impulse) {
        if (!(e.weight >= 0) || !(e.tau >= 0) || !std::isfinite(e.tau))
            throw std::invalid_argument("phosphor weights and time constants must not be negative");
        total += e.weight;
    }
    if (!(total > 0)) throw std::invalid_argument("a phosphor needs at least one component of weight above 0");
    for (Exponential& e : impulse) e.weight /= total;
    return impulse;
}

WindowWeights::Place WindowWeights::PlaceOf(double sigma) const {
    const double position = std::clamp((sigma - first) / step, 0.0, count - 1.0001);
    const int i = static_cast<int>(position);
    return {i, position - i};
}

double WindowWeights::At(int channel, int phase, Place place) const {
    const float* row = values.data() + (static_cast<std::size_t>(channel) * kPhases + phase) * count + place.entry;
    return row[0] + place.fraction * (row[1] - row[0]);
}

WindowWeights CrtWeights(const Phosphor& phosphor, const Window& window, double sigmaFirst, double sigmaLast,
                         double step) {
    WindowWeights table = EmptyTable(kChannels, sigmaFirst, sigmaLast, step);
    const double frame = window.framePeriod, exposure = window.exposure;
    for (int c = 0; c < kChannels; ++c) {
        const double memory = kForgotten * LongestTau(phosphor[c]);
        for (int i = 0; i < table.count; ++i) {
            const double sigma = table.first + i * step;
            // Passes scanned from `memory` before the opening up to the closing.
            const auto firstRefresh = static_cast<std::int64_t>(std::floor((-memory - sigma) / frame));
            const auto lastRefresh = static_cast<std::int64_t>(std::ceil((exposure - sigma) / frame));
            double sums[kPhases] = {};
            for (std::int64_t k = firstRefresh; k <= lastRefresh; ++k)
                sums[window.schedule.Phase(k)] += CapturedShare(phosphor[c], k * frame + sigma, exposure);
            for (int p = 0; p < kPhases; ++p) Entry(table, c, p, i) = static_cast<float>(sums[p]);
        }
    }
    return table;
}

WindowWeights LcdWeights(double response, const Window& window, double sigmaFirst, double sigmaLast, double step) {
    WindowWeights table = EmptyTable(1, sigmaFirst, sigmaLast, step);
    const double frame = window.framePeriod, exposure = window.exposure;
    const double tau = response / std::log(9.0);  // 10 % to 90 % of an exponential step
    const double memory = kForgotten * tau + frame;
    for (int i = 0; i < table.count; ++i) {
        const double sigma = table.first + i * step;
        // The pixel targets refresh k's level from its scan k * frame + sigma until the
        // next; the panel follows that target through a first-order response.
        const auto firstRefresh = static_cast<std::int64_t>(std::floor((-memory - sigma) / frame));
        const auto lastRefresh = static_cast<std::int64_t>(std::ceil((exposure - sigma) / frame));
        double sums[kPhases] = {};
        for (std::int64_t k = firstRefresh; k <= lastRefresh; ++k) {
            const double from = k * frame + sigma, to = from + frame;
            const double light = RampIntegral(exposure - from, tau) - RampIntegral(-from, tau) -
                                 RampIntegral(exposure - to, tau) + RampIntegral(-to, tau);
            sums[window.schedule.Phase(k)] += light;
        }
        for (int p = 0; p < kPhases; ++p) Entry(table, 0, p, i) = static_cast<float>(sums[p] / exposure);
    }
    return table;
}

}  // namespace velmaro::photo
