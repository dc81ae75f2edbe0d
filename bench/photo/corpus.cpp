#include "corpus.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace velmaro::photo::bench {

namespace {

struct Mode {
    int width, height, refresh;
};
constexpr Mode kModes[] = {{1024, 768, 85}, {1024, 768, 85}, {1024, 768, 75}, {1024, 768, 60},
                           {800, 600, 85},  {800, 600, 72},  {640, 480, 85}};

// Uniform numbers from one seeded generator; std::uniform_real_distribution is not the
// same on every standard library, so the draw is done here.
struct Draw {
    std::mt19937_64 engine;
    double Uniform(double low, double high) { return low + (high - low) * (engine() >> 11) * 0x1.0p-53; }
    int Pick(int count) { return static_cast<int>(engine() % static_cast<std::uint64_t>(count)); }
    bool Chance(double p) { return Uniform(0, 1) < p; }
};

// Placement, optics and sensor over the ranges a reader must bear.
void Nuisances(Scene& s, Draw& d) {
    const double scale = d.Uniform(2.0, 3.5);
    const double screenArea = s.timing.width * scale * s.timing.height * scale;
    const double share = d.Uniform(0.33, 0.85);  // of the photo's area that the screen takes
    int width = static_cast<int>(std::sqrt(screenArea / share * 1.5));
    width = std::max(width, static_cast<int>(s.timing.width * scale * 1.12));
    const int height = std::max(static_cast<int>(width / 1.5), static_cast<int>(s.timing.height * scale * 1.15));
    s.placement.photo = {width, height};
    s.placement.scale = scale;
    s.placement.rotationDeg = d.Uniform(-4, 4);
    s.placement.keystoneX = d.Uniform(-0.06, 0.06);
    s.placement.keystoneY = d.Uniform(-0.06, 0.06);
    const double freeX = std::max(0.0, (width - s.timing.width * scale * 1.1) / 2);
    const double freeY = std::max(0.0, (height - s.timing.height * scale * 1.12) / 2);
    s.placement.offset = {d.Uniform(-freeX, freeX), d.Uniform(-freeY, freeY)};
    s.optics.blur = d.Uniform(0.4, 0.45 * scale);
    s.optics.vignetting = d.Uniform(0, 0.35);
    s.optics.roomLight = d.Uniform(0, 0.03);
    s.sensor.fullWell = d.Uniform(5000, 40000);
    s.sensor.readNoise = d.Uniform(2, 10);
    s.sensor.grey = d.Chance(0.25);
    s.gain = d.Uniform(0.6, 1.05);
}

}  // namespace

const std::vector<Family>& AllFamilies() {
    static const std::vector<Family> all = {Family::kCrtBand, Family::kCrtWrap, Family::kCrtBlanking,
                                            Family::kCrtMulti, Family::kCrtSlant, Family::kLcd};
    return all;
}

std::string Name(Family family) {
    switch (family) {
        case Family::kCrtBand: return "CRT, one refresh";
        case Family::kCrtWrap: return "CRT, over the blanking";
        case Family::kCrtBlanking: return "CRT, edge in blanking";
        case Family::kCrtMulti: return "CRT, several refreshes";
        case Family::kCrtSlant: return "CRT, focal-plane slant";
        case Family::kLcd: return "LCD";
    }
    return "";
}

Case MakeCase(Family family, std::uint64_t n) {
    Draw d{std::mt19937_64(n * 1000003 + static_cast<std::uint64_t>(family) * 7919 + 17)};
    Case c{family, Scene{}, "jpg", 90};
    const Mode mode = kModes[d.Pick(sizeof kModes / sizeof kModes[0])];
    Scene& s = c.scene;
    s.timing = ResolveTiming(mode.width, mode.height, mode.refresh);
    const double h = mode.height, v = s.timing.vtotal, line = s.timing.LinePeriod();
    s.schedule = {d.Pick(5), {1}};
    s.sensor.seed = n + 1;
    Nuisances(s, d);
    c.format = d.Chance(0.75) ? "jpg" : "png";
    c.quality = static_cast<int>(d.Uniform(75, 96));
    auto lines = [&](double count) { return count * line; };
    switch (family) {
        case Family::kCrtBand: {
            const double length = d.Uniform(40, 0.9 * h);
            s.exposure = lines(length);
            s.startLine = d.Uniform(1.5, h - length);
            break;
        }
        case Family::kCrtWrap: {
            const double length = d.Uniform(v - h + 30, 0.9 * v);
            s.exposure = lines(length);
            // From the bottom part over the blanking into the top: both edges visible.
            const double tail = d.Uniform(15, length - (v - h) - 15);
            s.startLine = h - tail + 1;
            break;
        }
        case Family::kCrtBlanking: {
            const double length = d.Uniform(40, 0.8 * h);
            s.exposure = lines(length);
            s.startLine = d.Chance(0.5) ? d.Uniform(h + 1, v + 0.99) : d.Uniform(h - length + 1.5, h);
            if (s.startLine > h) break;  // opens in the blanking
            s.startLine = h - length + d.Uniform(1, v - h);  // closes in the blanking
            break;
        }
        case Family::kCrtMulti: {
            static const std::vector<std::vector<int>> holds = {{1}, {1}, {2}, {1, 2}, {1, 1, 2}};
            s.schedule.holds = holds[d.Pick(static_cast<int>(holds.size()))];
            s.exposure = d.Uniform(1.2, 4.5) * s.timing.FramePeriod();
            s.startLine = d.Uniform(1.5, h);
            break;
        }
        case Family::kCrtSlant: {
            const double length = d.Uniform(60, 0.6 * h);
            s.exposure = lines(length);
            s.shutter.slit = true;
            // Travel across the photo: the band drops up to about 80 lines across the screen.
            const double slant = d.Uniform(5, 80) * (d.Chance(0.5) ? 1 : -1);
            const double screenShare = s.timing.width * s.placement.scale / s.placement.photo.width;
            s.shutter.travel = lines(slant) / screenShare;
            const double room = std::abs(slant) / 2 + 3;
            s.startLine = d.Uniform(1 + room, h - length - room);
            break;
        }
        case Family::kLcd: {
            s.display = DisplayKind::kLcd;
            s.panel.response = d.Uniform(0.05e-3, 3e-3);
            const double length = d.Uniform(40, 0.7 * h);
            s.exposure = lines(length);
            s.startLine = d.Uniform(1.5, h - length);
            break;
        }
    }
    return c;
}

}  // namespace velmaro::photo::bench
