#include "corpus.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <utility>

#include "photo/simulate/truth.h"

namespace velmaro::photo::bench {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLargestPhoto = 30e6;  // pixels: a 24-megapixel camera's photo, cropped or not
constexpr double kSlowestTimer = 64;    // timer messages a second, as Windows delivers them at the fewest

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
    double LogUniform(double low, double high) { return std::exp(Uniform(std::log(low), std::log(high))); }
    int Pick(int count) { return static_cast<int>(engine() % static_cast<std::uint64_t>(count)); }
    bool Chance(double p) { return Uniform(0, 1) < p; }
    double Sign() { return Chance(0.5) ? 1 : -1; }
};

// How the camera is held: the screen's turn in the photo (0, 90, 180 or 270 degrees, and
// a few more either way), whether a quarter-turned screen comes in an upright photo or in
// the sensor's own landscape frame, and whether the photo is mirrored.
struct Hold {
    double turn = 0;
    bool uprightPhoto = true;
    bool mirrored = false;
};

Hold HoldOf(Family family, Draw& d) {
    switch (family) {
        case Family::kUpsideDown:
            return {180};
        case Family::kQuarterTurned:
            return {d.Chance(0.5) ? 90.0 : 270.0, true};
        case Family::kMirrored:
            return {d.Chance(0.75) ? 0.0 : 180.0, true, true};
        case Family::kRolling:
            return {d.Chance(0.5) ? 90.0 : 270.0, false};
        // A metal vertical slit with the camera on its side, or a cloth horizontal one held level.
        case Family::kSlitAcross:
            return {d.Chance(0.5) ? (d.Chance(0.5) ? 90.0 : 270.0) : 0.0, false};
        default:
            return {};
    }
}

// The photo's size and where the screen lies in it: the screen takes a third of the
// photo to most of it, at 2.2 to 4.5 photo pixels a line, with its border in the frame;
// a third of the photos are cropped to 55 to 95 % of the screen's width, the ruler and
// the bars kept in the frame.
void Place(Scene& s, Draw& d, const Hold& hold) {
    Placement& p = s.placement;
    p.rotationDeg = hold.turn + d.Uniform(-4, 4);
    p.mirrored = hold.mirrored;
    p.keystoneX = d.Uniform(-0.025, 0.025);
    p.keystoneY = d.Uniform(-0.025, 0.025);
    p.aspect = d.Uniform(-0.06, 0.06);
    s.housing.border = d.Uniform(6, 30);
    s.housing.bezel = d.Uniform(25, 80);
    const double share = d.Uniform(0.33, 0.85);
    const int width = s.timing.width, height = s.timing.height;
    const double ruler = (kRulerWidth + 2 * (kBarStep * kBars + kBarWidth)) * 1.15 + 10;  // columns that must show
    const bool cropped = d.Chance(1.0 / 3);
    const double crop = cropped ? d.Uniform(std::max(0.55, ruler / width), 0.95) : 1;
    const bool quarter = std::lround(hold.turn / 90) % 2 == 1;
    const double jitter = std::abs(std::sin((p.rotationDeg - hold.turn) * kPi / 180));
    double scale = d.Uniform(2.2, 4.5), along = 0, across = 0;
    const double slack = d.Uniform(0, 0.15);  // a crop's room beyond the screen's height
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Along the screen's lines and across them, in photo pixels.
        const double a = width * scale * (1 + p.aspect), b = height * scale, frame = 2 * s.housing.border + 20;
        const double needAlong = (a + b * jitter) * 1.03 + frame, needAcross = (b + a * jitter) * 1.03 + frame;
        // Photos are 3:2; a quarter-turned screen comes upright or in the sensor's landscape frame.
        const double ratio = quarter && !hold.uprightPhoto ? 2.0 / 3 : 1.5;  // along over across
        const double area = a * b / share;
        along = std::max(needAlong, std::sqrt(area * ratio));
        across = std::max(needAcross, std::sqrt(area / ratio));
        if (cropped) along = crop * a, across = needAcross * (1 + slack);
        if (along * across <= kLargestPhoto) break;
        scale = std::max(2.2, scale * std::sqrt(kLargestPhoto / (along * across)) * 0.98);
    }
    p.scale = scale;
    const double a = width * scale * (1 + p.aspect), b = height * scale;
    const double freeAcross = std::max(0.0, (across - (b + a * jitter) * 1.03) / 2 - s.housing.border - 10);
    const double freeAlong = cropped ? std::min((along - ruler * scale) / 2, (a - along) / 2)
                                     : std::max(0.0, (along - (a + b * jitter) * 1.03) / 2 - s.housing.border - 10);
    const double offsetAlong = d.Uniform(-freeAlong, freeAlong), offsetAcross = d.Uniform(-freeAcross, freeAcross);
    const int alongPixels = static_cast<int>(along), acrossPixels = static_cast<int>(across);
    p.photo = quarter ? cv::Size(acrossPixels, alongPixels) : cv::Size(alongPixels, acrossPixels);
    p.offset = quarter ? cv::Point2d(offsetAcross, offsetAlong) : cv::Point2d(offsetAlong, offsetAcross);
}

// Lens blur 0.3 to 1.0 line (with a CRT's spot of 0.2 to 0.5 line), or a total blur that
// leaves the 1-line stripes 0.5 to 15 % of their contrast; red and blue up to 20 % softer.
void DrawOptics(Scene& s, Draw& d, bool beyondStripes) {
    const bool crt = s.display == DisplayKind::kCrt;
    double lens = d.Uniform(0.3, 1.0);
    s.beamSpot = crt ? d.Uniform(0.2, 0.5) : 0;
    if (beyondStripes) {
        // A Gaussian of sigma lines keeps exp(-pi^2 sigma^2 / 2) of a 2-line period.
        const double total = std::sqrt(-2 * std::log(d.LogUniform(0.005, 0.15))) / kPi;
        s.beamSpot = d.Uniform(0.2, std::min(0.5, 0.8 * total));
        lens = std::sqrt(total * total - s.beamSpot * s.beamSpot);
    }
    Optics& o = s.optics;
    o.blur = lens * s.placement.scale;
    o.blurRed = d.Uniform(1, 1.2);
    o.blurBlue = d.Uniform(1, 1.2);
    o.lens = {d.Uniform(-0.008, 0.008), d.Uniform(-6e-4, 6e-4), d.Uniform(-6e-4, 6e-4)};
    o.vignetting = d.Uniform(0, 0.35);
    o.roomLight = d.Uniform(0, 0.03);
    s.housing.bezelReflect = d.Uniform(0.5, 5);
    s.housing.wallReflect = d.Uniform(0.5, 5);
}

// White at 70 to 98 % of full scale, or clipped at 103 to 112 %; a quarter of the photos
// grey; white balance off by up to 12 % in red and blue.
void DrawSensor(Scene& s, Draw& d, bool negative) {
    Sensor& sensor = s.sensor;
    sensor.fullWell = d.Uniform(6000, 40000);
    sensor.readNoise = d.Uniform(2, 10);
    sensor.grey = d.Chance(0.25);
    sensor.balanceRed = d.Uniform(0.88, 1.12);
    sensor.balanceBlue = d.Uniform(0.88, 1.12);
    const double white = d.Chance(0.8) ? d.Uniform(0.70, 0.98) : d.Uniform(1.03, 1.12);
    s.gain = white / 0.85;
    if (!negative) return;
    sensor.film = d.Chance(0.5) ? Film::kGrey : Film::kColour;
    sensor.grey = sensor.film == Film::kGrey;
}

// Each channel: a fast part (85 to 95 % of the light) decaying in 20 to 150 us, the rest
// over 0.3 to 1.5 ms; red slower and with more slow light, blue faster.
Phosphor DrawPhosphor(Draw& d, bool slow) {
    const double fast = slow ? d.Uniform(100e-6, 150e-6) : d.Uniform(20e-6, 100e-6);
    const double tail = slow ? d.Uniform(0.9e-3, 1.5e-3) : d.Uniform(0.3e-3, 1.0e-3);
    const double share = slow ? d.Uniform(0.85, 0.88) : d.Uniform(0.88, 0.95);
    auto channel = [](double fastShare, double fastTau, double slowTau) {
        return Impulse{{fastShare, fastTau}, {1 - fastShare, slowTau}};
    };
    return {channel(std::max(0.85, share - d.Uniform(0.02, 0.05)), std::min(150e-6, fast * d.Uniform(1.2, 1.6)),
                    std::min(1.5e-3, tail * d.Uniform(1.1, 1.5))),
            channel(share, fast, tail),
            channel(std::min(0.95, share + d.Uniform(0, 0.02)), std::max(20e-6, fast * d.Uniform(0.6, 0.9)),
                    std::max(0.3e-3, tail * d.Uniform(0.7, 0.9)))};
}

// Response 0.2 to 3 ms, rise and fall differing up to 0.6 to 1.6 times; half the panels
// follow a 2.2 power law rather than sRGB; black leaks 0.1 to 0.5 %; a dark row matrix of
// up to a tenth of a line.
Panel DrawPanel(Draw& d) {
    return {d.Uniform(0.2e-3, 3e-3), d.Uniform(0.6, 1.6), d.Chance(0.5) ? 2.2 : 0.0, d.Uniform(0.001, 0.005),
            d.Uniform(0, 0.1)};
}

// A slit travelling To across the photo along an axis (either way), closing in Tc.
void Slit(Scene& s, Draw& d, SlitAxis axis, double opening, double closing, bool rolling = false) {
    s.shutter.slit = true;
    s.shutter.rolling = rolling;
    s.shutter.axis = axis;
    s.shutter.travel = opening * d.Sign();
    s.shutter.closingTravel = closing;
}

// The most a slit along the scan stretches the band, when it runs with the beam:
// 1 / (1 - f_h / v), v in screen lines a second.
double Stretch(const Scene& s) {
    const double speed = s.placement.photo.height / s.placement.scale / s.shutter.Opening();
    return 1 / std::max(0.1, 1 - 1 / (s.timing.LinePeriod() * speed));
}

// Lines a user leaves between a band and the screen's top or bottom, having been told to
// photograph it inside the screen: a dark gap that shows at a glance.
constexpr double kSpareLines = 5;
// Places tried for a band before the one drawn is given up for the next.
constexpr int kPlacesTried = 16;

// The stretches of lines lit at the screen's centre column, first and last line.
std::vector<std::pair<int, int>> LitStretches(const Scene& s, const Projection& projection) {
    std::vector<std::pair<int, int>> stretches;
    for (int n = 1; n <= s.timing.height; ++n) {
        if (!LineLit(s, projection, n)) continue;
        if (stretches.empty() || stretches.back().second != n - 1) stretches.push_back({n, n});
        stretches.back().second = n;
    }
    return stretches;
}

// The start line (at the screen's centre, as the scene counts it) that makes the beam meet
// a slit's opening curtain on line n of the centre column.
double StartMeeting(const Scene& s, const Projection& projection, double n) {
    Scene at = s;
    at.startLine = 1;
    const Timing& t = s.timing;
    const double beam = (n - 1 + kActiveLineShare / 2) * t.LinePeriod();
    const double opening = WindowAt(at, projection, {t.width / 2.0, n - 0.5}).opening;
    const double line = (beam - opening) / t.LinePeriod();
    return 1 + line - std::floor(line / t.vtotal) * t.vtotal;
}

// A slit along the scan, photographed as a user told to keep its band inside the screen
// does: one band (the slit's other passes, a refresh before or after, off the screen),
// kSpareLines clear of the screen's top and bottom. The beam meets the slit's curtains far
// from the line it scans when the slit crosses the screen's centre, so the band's place
// is drawn, and the start line follows from it.
void BandInside(Scene& s, Draw& d) {
    const cv::Matx33d screenToPhoto = ScreenToPhoto(s.placement, s.timing.width, s.timing.height);
    const Projection projection = ProjectionOf(s, screenToPhoto);
    const Truth truth = TruthOf(s, screenToPhoto);
    const double h = s.timing.height, band = truth.bandLines.value_or(0);
    // Passes of the slit follow each other a refresh apart in time, this many lines apart
    // on the screen.
    const double passes = s.timing.vtotal / (1 - 1 / (s.timing.LinePeriod() * truth.slitSpeed.value_or(INFINITY)));
    const double low = std::max(1 + kSpareLines, h - passes + kSpareLines);
    const double high = std::max(low, std::min(h - kSpareLines - band, passes - band - kSpareLines));
    const double drawn = d.Uniform(0, 1);
    for (int k = 0; k < kPlacesTried; ++k) {
        // The places after the one drawn spread over the room by the golden ratio.
        const double share = std::fmod(drawn + k * 0.6180339887498949, 1.0);
        s.startLine = StartMeeting(s, projection, low + share * (high - low));
        const auto stretches = LitStretches(s, projection);
        if (stretches.size() == 1 && stretches[0].first >= 1 + kSpareLines && stretches[0].second <= h - kSpareLines)
            return;
    }
    throw std::logic_error("no place on the screen holds a band of " + std::to_string(band) + " lines");
}

// A vertical metal slit of 3.5 to 7 ms travelling along the scan; the exposure is kept
// short enough that the band, stretched when the slit runs with the beam, fits the screen.
void AlongScan(Scene& s, Draw& d) {
    const double travel = d.Uniform(3.5e-3, 7e-3), line = s.timing.LinePeriod();
    Slit(s, d, SlitAxis::kY, travel, travel);
    s.exposure = d.Uniform(20, std::max(25.0, 0.8 * s.timing.height / Stretch(s))) * line;
    BandInside(s, d);
}

}  // namespace

const std::vector<Family>& AllFamilies() {
    static const std::vector<Family> all = {
        Family::kCrtBand,    Family::kCrtWrap,       Family::kCrtBlanking, Family::kCrtMulti,
        Family::kCrtSlant,   Family::kLcd,           Family::kCrtBlur,     Family::kCrtSlowPhosphor,
        Family::kUpsideDown, Family::kQuarterTurned, Family::kMirrored,    Family::kNegative,
        Family::kSlitAcross, Family::kRolling,       Family::kPair,        Family::kSlitAlongScan,
        Family::kCrtSlow};
    return all;
}

std::string Name(Family family) {
    switch (family) {
        case Family::kCrtBand:
            return "CRT, one refresh";
        case Family::kCrtWrap:
            return "CRT, over the blanking";
        case Family::kCrtBlanking:
            return "CRT, edge in blanking";
        case Family::kCrtMulti:
            return "CRT, several refreshes";
        case Family::kCrtSlant:
            return "CRT, focal-plane slant";
        case Family::kLcd:
            return "LCD";
        case Family::kCrtBlur:
            return "CRT, blur beyond the stripes";
        case Family::kCrtSlowPhosphor:
            return "CRT, slow phosphor";
        case Family::kUpsideDown:
            return "Upside down";
        case Family::kQuarterTurned:
            return "Quarter-turned";
        case Family::kMirrored:
            return "Mirrored";
        case Family::kNegative:
            return "Negative";
        case Family::kSlitAcross:
            return "Slit across the lines";
        case Family::kRolling:
            return "Rolling readout, on its side";
        case Family::kPair:
            return "Pair, slit along the scan";
        case Family::kSlitAlongScan:
            return "Slit along the scan, alone";
        case Family::kCrtSlow:
            return "CRT, slow speeds";
    }
    return "";
}

std::string Key(Family family) {
    switch (family) {
        case Family::kCrtBand:
            return "crt-band";
        case Family::kCrtWrap:
            return "crt-wrap";
        case Family::kCrtBlanking:
            return "crt-blanking";
        case Family::kCrtMulti:
            return "crt-multi";
        case Family::kCrtSlant:
            return "crt-slant";
        case Family::kLcd:
            return "lcd";
        case Family::kCrtBlur:
            return "crt-blur";
        case Family::kCrtSlowPhosphor:
            return "crt-slow-phosphor";
        case Family::kUpsideDown:
            return "upside-down";
        case Family::kQuarterTurned:
            return "quarter-turned";
        case Family::kMirrored:
            return "mirrored";
        case Family::kNegative:
            return "negative";
        case Family::kSlitAcross:
            return "slit-across";
        case Family::kRolling:
            return "rolling";
        case Family::kPair:
            return "pair";
        case Family::kSlitAlongScan:
            return "slit-along-scan";
        case Family::kCrtSlow:
            return "crt-slow";
    }
    return "";
}

Case MakeCase(Family family, std::uint64_t n) {
    Draw d{std::mt19937_64(n * 1000003 + static_cast<std::uint64_t>(family) * 7919 + 17)};
    Case c{family, Scene{}, "jpg", 90, true, {}, {}};
    const Mode mode = kModes[d.Pick(sizeof kModes / sizeof kModes[0])];
    Scene& s = c.scene;
    s.timing = ResolveTiming(mode.width, mode.height, mode.refresh);
    s.display = family == Family::kLcd ? DisplayKind::kLcd : DisplayKind::kCrt;
    const double h = mode.height, v = s.timing.vtotal, line = s.timing.LinePeriod();
    s.schedule = {d.Pick(5), {1}};
    s.sensor.seed = n + 1;
    Place(s, d, HoldOf(family, d));
    DrawOptics(s, d, family == Family::kCrtBlur);
    DrawSensor(s, d, family == Family::kNegative);
    s.phosphor = DrawPhosphor(d, family == Family::kCrtSlowPhosphor);
    s.panel = DrawPanel(d);
    c.format = d.Chance(0.85) ? "jpg" : "png";
    c.quality = static_cast<int>(d.Uniform(80, 96));
    c.halveChroma = d.Chance(0.5);
    auto lines = [&](double count) { return count * line; };
    switch (family) {
        case Family::kCrtBand:
        case Family::kCrtBlur:
        case Family::kCrtSlowPhosphor:
        case Family::kUpsideDown:
        case Family::kQuarterTurned:
        case Family::kMirrored:
        case Family::kNegative: {
            const double length = d.Uniform(20, 0.9 * h);
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
            const double length = d.Uniform(20, 0.8 * h);
            s.exposure = lines(length);
            s.startLine = d.Chance(0.5) ? d.Uniform(h + 1, v + 0.99) : d.Uniform(h - length + 1.5, h);
            if (s.startLine > h) break;                      // opens in the blanking
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
        case Family::kCrtSlow: {
            // A marked speed and a shutter off it by as much as the reader is asked to
            // settle with the marked speed's help; a quarter of the cases read without it.
            static const double speeds[] = {1.0 / 8, 1.0 / 4, 1.0 / 2}, off[] = {0.2, 0.1, 0.05};
            const int k = d.Pick(3);
            s.exposure = speeds[k] * (1 + d.Uniform(-off[k], off[k]));
            s.startLine = d.Uniform(1.5, v);
            if (d.Chance(0.75)) c.marked = speeds[k];
            // A third of the screens faster than the program's timer (64 to 100 messages a
            // second) keep some pictures up for two refreshes.
            if (d.Chance(1.0 / 3) && s.timing.refreshHz > kSlowestTimer) {
                static const std::vector<std::vector<int>> holds = {{1, 2}, {1, 1, 2}, {1, 1, 1, 2}};
                s.schedule.holds = holds[d.Pick(static_cast<int>(holds.size()))];
            }
            break;
        }
        case Family::kCrtSlant: {
            // A slit of 8 to 15 ms across the photo: the band drops hundreds of lines
            // across the screen and wraps through the blanking.
            const double travel = d.Uniform(8e-3, 15e-3);
            Slit(s, d, SlitAxis::kX, travel, travel);
            s.exposure = lines(d.Uniform(20, 0.6 * h));
            s.startLine = d.Uniform(1.5, h);
            break;
        }
        case Family::kLcd: {
            const double length = d.Uniform(20, 0.7 * h);
            s.exposure = lines(length);
            s.startLine = d.Uniform(1.5, h - length);
            break;
        }
        case Family::kSlitAcross: {
            // Either way along the screen's lines: a vertical metal slit with the camera on
            // its side (the screen quarter-turned, its lines along the photo's y axis, whatever
            // the crop made of the photo's shape), a horizontal cloth one in the ordinary hold;
            // the curtains differ by up to 10 % of the exposure's ends.
            const bool metal = std::abs(std::sin(s.placement.rotationDeg * kPi / 180)) > 0.5;
            s.exposure = lines(d.Uniform(20, 0.6 * h));
            const double opening = metal ? d.Uniform(3.5e-3, 7e-3) : d.Uniform(12e-3, 17e-3);
            const double ratio = d.Uniform(0.9, 1.1);  // end over start
            Slit(s, d, metal ? SlitAxis::kY : SlitAxis::kX, opening,
                 opening + 2 * s.exposure * (ratio - 1) / (ratio + 1));
            s.startLine = d.Uniform(1.5, h);
            break;
        }
        case Family::kRolling: {
            const double readout = d.Uniform(15e-3, 35e-3);
            Slit(s, d, SlitAxis::kY, readout, readout, true);
            s.exposure = lines(d.Uniform(20, 0.6 * h));
            s.startLine = d.Uniform(1.5, h);
            break;
        }
        case Family::kPair:
        case Family::kSlitAlongScan: {
            if (family == Family::kSlitAlongScan && d.Chance(0.5)) s.placement.rotationDeg += 180;
            AlongScan(s, d);
            if (family == Family::kSlitAlongScan) break;
            // The same camera and setting upside down: the slit now runs against the beam
            // where it ran with it.
            Scene second = s;
            second.placement.rotationDeg += 180 + d.Uniform(-2, 2);
            BandInside(second, d);
            second.schedule.firstPhase = d.Pick(5);
            second.sensor.seed = s.sensor.seed + 7919;
            c.second = second;
            break;
        }
    }
    return c;
}

}  // namespace velmaro::photo::bench
