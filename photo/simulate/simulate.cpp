#include "photo/simulate/simulate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

#include "photo/model/pictures.h"
#include "photo/model/srgb.h"
#include "photo/simulate/screen.h"

namespace velmaro::photo {

namespace {

constexpr double kBrightestShare = 0.85;  // of full scale, for the photo's brightest part
constexpr int kTableStepsPerLine = 32;
constexpr int kLargestTable = 400000;
// Lines of the lens's blur applied on the screen's surface rather than in the photo: the
// lines' fine structure is smoothed before the camera samples it, as a lens does.
constexpr double kSmoothing = 0.25;

void Require(bool condition, const std::string& what) {
    if (!condition) throw std::invalid_argument(what);
}

bool Within(double value, double low, double high) {
    return value >= low && value <= high;
}

// When the shutter opens and closes at each screen pixel, and the ranges of those times
// counted from the pixel's scan in refresh 0, which the light tables must cover.
struct Timeline {
    cv::Mat1d opening, closing;
    double earliest[2], latest[2];  // opening, closing
    double step;
};

Timeline TimelineOf(const Scene& scene, const Projection& projection) {
    const Timing& t = scene.timing;
    const double line = t.LinePeriod();
    Timeline timeline{cv::Mat1d(t.height, t.width), cv::Mat1d(t.height, t.width), {}, {}, 0};
    const Span everywhere = WindowAt(scene, projection, {t.width / 2.0, t.height / 2.0});
    for (int n = 0; n < t.height; ++n)
        for (int x = 0; x < t.width; ++x) {
            const Span span = scene.shutter.slit ? WindowAt(scene, projection, {x + 0.5, n + 0.5}) : everywhere;
            timeline.opening(n, x) = span.opening;
            timeline.closing(n, x) = span.closing;
        }
    // Scan times run from line 0's first column to the last line's last column.
    const double scanFirst = kActiveLineShare * 0.5 / t.width * line,
                 scanLast = (t.height - 1 + kActiveLineShare) * line;
    double range = 0;
    for (int i = 0; i < 2; ++i) {
        double low, high;
        cv::minMaxLoc(i == 0 ? timeline.opening : timeline.closing, &low, &high);
        timeline.earliest[i] = low - scanLast - line;
        timeline.latest[i] = high - scanFirst + line;
        range = std::max(range, timeline.latest[i] - timeline.earliest[i]);
    }
    timeline.step = std::max(line / kTableStepsPerLine, range / kLargestTable);
    return timeline;
}

TableSpan SpanOf(const Timeline& timeline, int which, double frame, std::int64_t origin) {
    return {frame, origin, timeline.earliest[which], timeline.latest[which], timeline.step};
}

double Scanned(const Timing& t, int n, int x) {
    return (n + kActiveLineShare * (x + 0.5) / t.width) * t.LinePeriod();
}

void CrtPixels(const Scene& scene, const std::array<cv::Mat1b, kPhases>& pictures, const Timeline& timeline,
               Planes& light) {
    const Timing& t = scene.timing;
    const double frame = t.FramePeriod();
    const std::int64_t origin = Origin(scene.phosphor, frame, timeline.earliest[0]);
    const LightTable opened = CrtLight(scene.phosphor, scene.schedule, SpanOf(timeline, 0, frame, origin));
    const LightTable closed = CrtLight(scene.phosphor, scene.schedule, SpanOf(timeline, 1, frame, origin));
    const auto& linear = LinearOf8Bit();
    cv::parallel_for_(cv::Range(0, t.height), [&](const cv::Range& rows) {
        for (int n = rows.start; n < rows.end; ++n) {
            for (int x = 0; x < t.width; ++x) {
                const double scanned = Scanned(t, n, x);
                const LightTable::Place from = opened.PlaceOf(timeline.opening(n, x) - scanned);
                const LightTable::Place to = closed.PlaceOf(timeline.closing(n, x) - scanned);
                double sum[kChannels] = {};
                for (int p = 0; p < kPhases; ++p) {
                    const double level = linear[pictures[p](n, x)];
                    if (level == 0) continue;
                    for (int c = 0; c < kChannels; ++c) sum[c] += level * (closed.At(c, p, to) - opened.At(c, p, from));
                }
                for (int c = 0; c < kChannels; ++c) light[c](n, x) = static_cast<float>(sum[c]);
            }
        }
    });
}

// A pixel that shows the same level in every phase holds its light; the others (the bars)
// are looked up by their sequence of levels.
void LcdPixels(const Scene& scene, const std::array<cv::Mat1b, kPhases>& pictures, const Timeline& timeline,
               Planes& light) {
    const Timing& t = scene.timing;
    const double frame = t.FramePeriod();
    std::map<Levels, int> kinds;
    std::vector<Levels> sequences;
    cv::Mat1i kind(t.height, t.width, -1);
    for (int n = 0; n < t.height; ++n)
        for (int x = 0; x < t.width; ++x) {
            Levels levels;
            for (int p = 0; p < kPhases; ++p) levels[p] = pictures[p](n, x);
            if (std::all_of(levels.begin(), levels.end(), [&](std::uint8_t v) { return v == levels[0]; })) continue;
            const auto [at, added] = kinds.emplace(levels, static_cast<int>(sequences.size()));
            if (added) sequences.push_back(levels);
            kind(n, x) = at->second;
        }
    const double unit = scene.exposure;
    const std::int64_t origin = Origin(scene.panel, frame, timeline.earliest[0]);
    const LightTable opened =
        LcdLight(scene.panel, scene.schedule, sequences, SpanOf(timeline, 0, frame, origin), unit);
    const LightTable closed =
        LcdLight(scene.panel, scene.schedule, sequences, SpanOf(timeline, 1, frame, origin), unit);
    std::array<double, 256> steady;
    for (int v = 0; v < 256; ++v) steady[v] = PanelLight(scene.panel, v / 255.0);
    cv::parallel_for_(cv::Range(0, t.height), [&](const cv::Range& rows) {
        for (int n = rows.start; n < rows.end; ++n) {
            for (int x = 0; x < t.width; ++x) {
                const double opening = timeline.opening(n, x), closing = timeline.closing(n, x);
                double value;
                if (kind(n, x) < 0) {
                    value = steady[pictures[0](n, x)] * (closing - opening) / unit;
                } else {
                    const double scanned = Scanned(t, n, x);
                    value = closed.At(0, kind(n, x), closing - scanned) - opened.At(0, kind(n, x), opening - scanned);
                }
                for (int c = 0; c < kChannels; ++c) light[c](n, x) = static_cast<float>(value);
            }
        }
    });
}

LineShape ShapeOf(const Scene& scene) {
    LineShape shape;
    if (scene.display == DisplayKind::kCrt)
        shape.spot = scene.beamSpot;
    else
        shape.matrix = scene.panel.rowMatrix;
    shape.smoothing = std::min(kSmoothing, scene.optics.blur / scene.placement.scale);
    return shape;
}

Surround SurroundOf(const Scene& scene) {
    const double lines = 1 / scene.placement.scale, columns = lines / (1 + scene.placement.aspect);
    const Housing& h = scene.housing;
    const double room = scene.optics.roomLight;
    return {{h.border * columns, h.border * lines},
            {h.bezel * columns, h.bezel * lines},
            room,
            room * h.bezelReflect,
            room * h.wallReflect};
}

// The lens's blur in the photo, less the share already applied on the screen's surface.
std::array<double, kChannels> LensBlur(const Scene& scene) {
    const Optics& optics = scene.optics;
    const double applied = ShapeOf(scene).smoothing * scene.placement.scale;
    const double factor[kChannels] = {optics.blurRed, 1, optics.blurBlue};
    std::array<double, kChannels> blur;
    for (int c = 0; c < kChannels; ++c)
        blur[c] = std::sqrt(std::max(0.0, std::pow(optics.blur * factor[c], 2) - applied * applied));
    return blur;
}

}  // namespace

std::string Name(SlitAxis axis) {
    return axis == SlitAxis::kX ? "photo-x" : "photo-y";
}

void Validate(const Scene& s) {
    Validate(s.schedule);
    Require(s.exposure > 0 && s.exposure <= 60, "the exposure must be above 0 and at most 60 seconds");
    Require(s.startLine >= 1 && s.startLine < s.timing.vtotal + 1,
            "the start line must be 1 to " + std::to_string(s.timing.vtotal) + " (the vertical total)");
    Require(Within(s.beamSpot, 0, 3), "the beam's spot must be 0 to 3 lines");
    const Panel& panel = s.panel;
    Require(Within(panel.response, 0, 1), "the response must be 0 to 1 second");
    Require(Within(panel.fallRatio, 0.1, 10), "the fall's time constant must be 0.1 to 10 times the rise's");
    Require(panel.gamma == 0 || Within(panel.gamma, 0.5, 5), "the panel's gamma must be 0.5 to 5 (or sRGB)");
    Require(Within(panel.leak, 0, 0.2), "black's leak must be 0 to 0.2 of white");
    Require(Within(panel.rowMatrix, 0, 0.5), "the row matrix must be 0 to 0.5 of a line");
    const Shutter& shutter = s.shutter;
    Require(std::isfinite(shutter.travel) && std::abs(shutter.travel) <= 1,
            "the shutter's travel must be at most 1 second");
    Require(Within(shutter.Closing(), 0, 1), "the closing curtain's travel must be 0 to 1 second");
    Require(!shutter.slit || s.exposure - std::abs(shutter.Closing() - shutter.Opening()) / 2 > 0,
            "the curtains' travels differ by more than twice the exposure: the slit would close before it opens");
    const cv::Size photo = s.placement.photo;
    Require(photo.width >= 16 && photo.height >= 16 && photo.width <= 20000 && photo.height <= 20000 &&
                static_cast<double>(photo.width) * photo.height <= 100e6,
            "the photo must be 16 to 20000 pixels each way and at most 100 megapixels");
    Require(s.placement.scale > 0 && s.placement.scale <= 100,
            "the scale must be above 0 and at most 100 pixels per line");
    Require(Within(s.placement.rotationDeg, -360, 360), "the rotation must be -360 to 360 degrees");
    Require(std::abs(s.placement.keystoneX) < 1 && std::abs(s.placement.keystoneY) < 1, "keystone must be below 1");
    Require(Within(s.placement.aspect, -0.5, 0.5), "the aspect must be -0.5 to 0.5");
    Require(std::isfinite(s.placement.offset.x) && std::isfinite(s.placement.offset.y), "the offset must be a number");
    const Optics& optics = s.optics;
    Require(Within(optics.blur, 0, 50), "the blur must be 0 to 50 pixels");
    Require(Within(optics.blurRed, 0.2, 5) && Within(optics.blurBlue, 0.2, 5),
            "red's and blue's blur must be 0.2 to 5 times green's");
    Require(Within(optics.lens.k1, -0.05, 0.05), "the distortion must be -0.05 to 0.05");
    Require(Within(optics.lens.chromaRed, -0.01, 0.01) && Within(optics.lens.chromaBlue, -0.01, 0.01),
            "the chromatic aberration must be -0.01 to 0.01");
    Require(optics.vignetting >= 0 && optics.vignetting < 1, "the vignetting must be 0 to below 1");
    Require(Within(optics.roomLight, 0, 1), "the room light must be 0 to 1");
    const Housing& h = s.housing;
    Require(Within(h.border, 0, 2000) && Within(h.bezel, 0, 2000), "the border and the bezel must be 0 to 2000 pixels");
    Require(Within(h.bezelReflect, 0, 100) && Within(h.wallReflect, 0, 100),
            "the bezel's and wall's light must be 0 to 100 times the glass's");
    const Sensor& sensor = s.sensor;
    Require(sensor.fullWell >= 1 && sensor.fullWell <= 1e12, "the full well must be 1 to 10^12 electrons");
    Require(Within(sensor.readNoise, 0, 1e5), "the read noise must be 0 to 10^5 electrons");
    Require(Within(sensor.balanceRed, 0.2, 5) && Within(sensor.balanceBlue, 0.2, 5),
            "the white balance must be 0.2 to 5");
    Require(!(sensor.grey && sensor.film == Film::kColour), "a colour negative gives no grey photo");
    Require(s.gain > 0 && s.gain <= 1000, "the gain must be above 0 and at most 1000");
}

Projection ProjectionOf(const Scene& scene, const cv::Matx33d& screenToPhoto) {
    return {screenToPhoto, scene.optics.lens, scene.placement.photo};
}

double TravelShare(const Shutter& shutter, cv::Size photo, cv::Point2d photoPoint) {
    const double along = shutter.axis == SlitAxis::kX ? photoPoint.x / photo.width : photoPoint.y / photo.height;
    return shutter.travel >= 0 ? along : 1 - along;
}

Span WindowAt(const Scene& scene, const Projection& projection, cv::Point2d screenPoint) {
    const Timing& t = scene.timing;
    const double atCentre = (scene.startLine - 1) * t.LinePeriod();
    if (!scene.shutter.slit) return {atCentre, atCentre + scene.exposure};
    const Shutter& shutter = scene.shutter;
    const cv::Size photo = scene.placement.photo;
    const double s = TravelShare(shutter, photo, projection(screenPoint));
    const double centre = TravelShare(shutter, photo, projection({t.width / 2.0, t.height / 2.0}));
    const double opening = atCentre + shutter.Opening() * (s - centre);
    return {opening, opening + scene.exposure + (shutter.Closing() - shutter.Opening()) * (s - 0.5)};
}

Planes ScreenLight(const Ruler& ruler, const Scene& scene, const Projection& projection) {
    const Timing& t = scene.timing;
    const auto pictures = ScreenPictures(ruler, t.width, t.height);
    const Timeline timeline = TimelineOf(scene, projection);
    Planes light;
    for (cv::Mat1f& plane : light) plane.create(t.height, t.width);
    if (scene.display == DisplayKind::kCrt)
        CrtPixels(scene, pictures, timeline, light);
    else
        LcdPixels(scene, pictures, timeline, light);
    return light;
}

Photograph Simulate(const Ruler& ruler, const Scene& scene) {
    Validate(scene);
    Photograph photograph;
    photograph.screenToPhoto = ScreenToPhoto(scene.placement, scene.timing.width, scene.timing.height);
    const Projection projection = ProjectionOf(scene, photograph.screenToPhoto);
    const ScreenImage screen = Surroundings(ScreenLight(ruler, scene, projection), ShapeOf(scene), SurroundOf(scene));
    const Planes image = FormImage(screen, projection, LensBlur(scene), scene.optics.vignetting);
    // The photo's brightest part, as the lens forms it, sets the exposure: a line's light
    // gathered by a small beam spot is brighter than the line's mean.
    double brightest = 0;
    for (const cv::Mat1f& plane : image) {
        double most;
        cv::minMaxLoc(plane, nullptr, &most);
        brightest = std::max(brightest, most);
    }
    photograph.fullScale = std::max(brightest, 1e-9) / (kBrightestShare * scene.gain);
    Sensor sensor = scene.sensor;
    sensor.gain = 1 / photograph.fullScale;
    photograph.image = Expose(image, sensor);
    return photograph;
}

}  // namespace velmaro::photo
