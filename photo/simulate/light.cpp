#include "photo/simulate/light.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "photo/model/srgb.h"

namespace velmaro::photo {

namespace {

// Glow older than this many time constants is left out: e^-40 is below any sensor.
constexpr double kForgotten = 40;
// Simpson steps per time constant of the panel's drive: errors below 1e-4 of the light.
constexpr double kStepsPerTau = 8;

LightTable EmptyTable(int channels, int kinds, const TableSpan& span) {
    if (!(span.step > 0) || !(span.last >= span.first)) throw std::invalid_argument("bad table range");
    LightTable table;
    table.first = span.first;
    table.step = span.step;
    table.kinds = kinds;
    table.count = static_cast<int>(std::ceil((span.last - span.first) / span.step)) + 2;
    table.values.assign(static_cast<std::size_t>(channels) * kinds * table.count, 0.0f);
    return table;
}

float& Entry(LightTable& table, int channel, int kind, int i) {
    return table.values[(static_cast<std::size_t>(channel) * table.kinds + kind) * table.count + i];
}

double LongestTau(const Impulse& impulse) {
    double longest = 0;
    for (const Exponential& e : impulse) longest = std::max(longest, e.tau);
    return longest;
}

// Share of a pass's light given off by `age` seconds after the beam passed.
double Emitted(const Impulse& impulse, double age) {
    if (age < 0) return 0;
    double share = 0;
    for (const Exponential& e : impulse) share += e.tau > 0 ? -e.weight * std::expm1(-age / e.tau) : e.weight;
    return share;
}

double RiseTau(const Panel& panel) {
    return panel.response / std::log(9.0);
}  // 10 % to 90 % of an exponential

std::int64_t OriginBefore(double t, double memory, double framePeriod) {
    return static_cast<std::int64_t>(std::floor((t - memory) / framePeriod)) - 1;
}

// Light given off over `duration` while the drive moves from `drive` toward `target`,
// by Simpson's rule while it moves; `drive` is left where it got to.
double Follow(const Panel& panel, double& drive, double target, double duration) {
    if (duration <= 0) return 0;
    const double tau = RiseTau(panel) * (target >= drive ? 1 : panel.fallRatio);
    if (tau <= 0 || std::abs(drive - target) < 1e-12) {
        drive = target;
        return PanelLight(panel, target) * duration;
    }
    const double from = drive, moving = std::min(duration, kForgotten * tau);
    const int steps = 2 * std::max(1, static_cast<int>(std::ceil(moving / tau * kStepsPerTau / 2)));
    const double h = moving / steps;
    auto light = [&](double s) { return PanelLight(panel, target + (from - target) * std::exp(-s / tau)); };
    double sum = light(0) + light(moving);
    for (int i = 1; i < steps; ++i) sum += (i % 2 ? 4 : 2) * light(i * h);
    drive = target + (from - target) * std::exp(-duration / tau);
    return sum * h / 3 + PanelLight(panel, target) * (duration - moving);
}

}  // namespace

Phosphor DefaultPhosphor() {
    return {{
        {{0.60, 5e-6}, {0.28, 60e-6}, {0.12, 450e-6}},  // red
        {{0.93, 3e-6}, {0.05, 30e-6}, {0.02, 300e-6}},  // green
        {{0.95, 2e-6}, {0.04, 25e-6}, {0.01, 250e-6}},  // blue
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

double PanelLight(const Panel& panel, double drive) {
    const double d = std::clamp(drive, 0.0, 1.0);
    const double light = panel.gamma > 0 ? std::pow(d, panel.gamma) : SrgbToLinear(d);
    return panel.leak + (1 - panel.leak) * light;
}

LightTable::Place LightTable::PlaceOf(double t) const {
    const double position = std::clamp((t - first) / step, 0.0, count - 1.0001);
    const int i = static_cast<int>(position);
    return {i, position - i};
}

double LightTable::At(int channel, int kind, Place place) const {
    const float* row = values.data() + (static_cast<std::size_t>(channel) * kinds + kind) * count + place.entry;
    return row[0] + place.fraction * (row[1] - row[0]);
}

std::int64_t Origin(const Phosphor& phosphor, double framePeriod, double t) {
    double longest = 0;
    for (const Impulse& channel : phosphor) longest = std::max(longest, LongestTau(channel));
    return OriginBefore(t, kForgotten * longest, framePeriod);
}

std::int64_t Origin(const Panel& panel, double framePeriod, double t) {
    return OriginBefore(t, kForgotten * RiseTau(panel) * std::max(1.0, panel.fallRatio) + framePeriod, framePeriod);
}

LightTable CrtLight(const Phosphor& phosphor, const Schedule& schedule, const TableSpan& span) {
    LightTable table = EmptyTable(kChannels, kPhases, span);
    const double frame = span.framePeriod;
    for (int c = 0; c < kChannels; ++c) {
        const double memory = kForgotten * LongestTau(phosphor[c]);
        // Passes older than the memory have given all their light: counted whole, once.
        double whole[kPhases] = {};
        std::int64_t glowing = span.origin;
        for (int i = 0; i < table.count; ++i) {
            const double t = span.first + i * span.step;
            for (; glowing * frame < t - memory; ++glowing) whole[schedule.Phase(glowing)] += 1;
            double sums[kPhases];
            std::copy(whole, whole + kPhases, sums);
            const auto latest = static_cast<std::int64_t>(std::floor(t / frame));
            for (std::int64_t k = glowing; k <= latest; ++k)
                sums[schedule.Phase(k)] += Emitted(phosphor[c], t - k * frame);
            for (int p = 0; p < kPhases; ++p) Entry(table, c, p, i) = static_cast<float>(sums[p]);
        }
    }
    return table;
}

LightTable LcdLight(const Panel& panel, const Schedule& schedule, const std::vector<Levels>& sequences,
                    const TableSpan& span, double unit) {
    LightTable table = EmptyTable(1, static_cast<int>(sequences.size()), span);
    const double frame = span.framePeriod;
    for (std::size_t q = 0; q < sequences.size(); ++q) {
        auto level = [&](std::int64_t k) { return sequences[q][schedule.Phase(k)] / 255.0; };
        // From its scan in refresh k the pixel moves toward refresh k's level; before the
        // origin it had long settled on the level of the refresh before.
        std::int64_t k = span.origin;
        double t = k * frame, drive = level(k - 1), light = 0;
        for (int i = 0; i < table.count; ++i) {
            const double to = span.first + i * span.step;
            for (; (k + 1) * frame <= to; ++k) {
                light += Follow(panel, drive, level(k), (k + 1) * frame - t);
                t = (k + 1) * frame;
            }
            light += Follow(panel, drive, level(k), to - t);
            t = to;
            Entry(table, 0, static_cast<int>(q), i) = static_cast<float>(light / unit);
        }
    }
    return table;
}

WindowWeights LcdWeights(double response, const Window& window, double sigmaFirst, double sigmaLast, double step) {
    const Panel linear{response, 1, 1, 0, 0};
    std::vector<Levels> alone(kPhases, Levels{});
    for (int p = 0; p < kPhases; ++p) alone[p][p] = 255;
    // The window [0, T) of a pixel scanned at sigma is [-sigma, T - sigma) after its scan.
    const double frame = window.framePeriod, exposure = window.exposure;
    const std::int64_t origin = Origin(linear, frame, -sigmaLast);
    const LightTable opened =
        LcdLight(linear, window.schedule, alone, {frame, origin, -sigmaLast, -sigmaFirst, step}, exposure);
    const LightTable closed = LcdLight(linear, window.schedule, alone,
                                       {frame, origin, exposure - sigmaLast, exposure - sigmaFirst, step}, exposure);
    WindowWeights shares = EmptyTable(1, kPhases, {frame, origin, sigmaFirst, sigmaLast, step});
    for (int i = 0; i < shares.count; ++i) {
        const double sigma = sigmaFirst + i * step;
        for (int p = 0; p < kPhases; ++p)
            Entry(shares, 0, p, i) = static_cast<float>(closed.At(0, p, exposure - sigma) - opened.At(0, p, -sigma));
    }
    return shares;
}

}  // namespace velmaro::photo
