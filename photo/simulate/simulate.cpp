#include "photo/simulate/simulate.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "photo/model/pictures.h"
#include "photo/model/srgb.h"

namespace velmaro::photo {

namespace {

constexpr double kBrightestShare = 0.85;  // of full scale, for the brightest screen light
constexpr int kTableStepsPerLine = 32;
constexpr int kLargestTable = 400000;

void Require(bool condition, const std::string& what) {
    if (!condition) throw std::invalid_argument(what);
}

std::array<cv::Mat1f, kPhases> LinearPictures(const Ruler& ruler, const Timing& timing) {
    const auto& linear = LinearOf8Bit();
    const auto pictures = ScreenPictures(ruler, timing.width, timing.height);
    std::array<cv::Mat1f, kPhases> levels;
    for (int p = 0; p < kPhases; ++p) {
        levels[p].create(pictures[p].size());
        std::transform(pictures[p].begin(), pictures[p].end(), levels[p].begin(), [&](std::uint8_t v) { return linear[v]; });
    }
    return levels;
}

// When each screen pixel's window opens: the same everywhere for a leaf shutter; later
// further along the slit's travel for a focal-plane shutter.
cv::Mat1d OpeningTimes(const Scene& scene, const cv::Matx33d& screenToPhoto) {
    const Timing& t = scene.timing;
    cv::Mat1d opening(t.height, t.width, OpeningTime(scene, screenToPhoto, {t.width / 2.0, t.height / 2.0}));
    if (!scene.shutter.focalPlane) return opening;
    for (int n = 0; n < t.height; ++n)
        for (int x = 0; x < t.width; ++x) opening(n, x) = OpeningTime(scene, screenToPhoto, {x + 0.5, n + 0.5});
    return opening;
}

}  // namespace

void Validate(const Scene& s) {
    Validate(s.schedule);
    Require(s.exposure > 0 && s.exposure <= 60, "the exposure must be above 0 and at most 60 seconds");
    Require(s.startLine >= 1 && s.startLine < s.timing.vtotal + 1,
            "the start line must be 1 to " + std::to_string(s.timing.vtotal) + " (the vertical total)");
    Require(s.response >= 0 && s.response <= 1, "the response must be 0 to 1 second");
    Require(std::isfinite(s.shutter.travel) && std::abs(s.shutter.travel) <= 1, "the shutter's travel must be at most 1 second");
    const cv::Size photo = s.placement.photo;
    Require(photo.width >= 16 && photo.height >= 16 && photo.width <= 20000 && photo.height <= 20000 &&
                static_cast<double>(photo.width) * photo.height <= 100e6,
            "the photo must be 16 to 20000 pixels each way and at most 100 megapixels");
    Require(s.placement.scale > 0 && s.placement.scale <= 100, "the scale must be above 0 and at most 100 pixels per line");
    Require(std::abs(s.placement.rotationDeg) <= 45, "the rotation must be at most 45 degrees");
    Require(std::abs(s.placement.keystoneX) < 1 && std::abs(s.placement.keystoneY) < 1, "keystone must be below 1");
    Require(std::isfinite(s.placement.offset.x) && std::isfinite(s.placement.offset.y), "the offset must be a number");
    Require(s.optics.blur >= 0 && s.optics.blur <= 50, "the blur must be 0 to 50 pixels");
    Require(s.optics.vignetting >= 0 && s.optics.vignetting < 1, "the vignetting must be 0 to below 1");
    Require(s.optics.roomLight >= 0 && s.optics.roomLight <= 1, "the room light must be 0 to 1");
    Require(s.sensor.fullWell >= 1 && s.sensor.fullWell <= 1e12, "the full well must be 1 to 10^12 electrons");
    Require(s.sensor.readNoise >= 0 && s.sensor.readNoise <= 1e5, "the read noise must be 0 to 10^5 electrons");
    Require(s.gain > 0 && s.gain <= 1000, "the gain must be above 0 and at most 1000");
}

double OpeningTime(const Scene& scene, const cv::Matx33d& screenToPhoto, cv::Point2d screenPoint) {
    const double opening = (scene.startLine - 1) * scene.timing.LinePeriod();
    if (!scene.shutter.focalPlane) return opening;
    const Timing& t = scene.timing;
    const double centre = Apply(screenToPhoto, {t.width / 2.0, t.height / 2.0}).x;
    return opening + scene.shutter.travel * (Apply(screenToPhoto, screenPoint).x - centre) / scene.placement.photo.width;
}

cv::Mat3f ScreenLight(const Ruler& ruler, const Scene& scene, const cv::Matx33d& screenToPhoto) {
    const Timing& t = scene.timing;
    const double line = t.LinePeriod();
    const auto levels = LinearPictures(ruler, t);
    const cv::Mat1d opening = OpeningTimes(scene, screenToPhoto);
    double earliest, latest;
    cv::minMaxLoc(opening, &earliest, &latest);

    // Sigma, the scan time in refresh 0 less the opening, spans this range.
    const double first = -latest - line, last = t.height * line - earliest + line;
    const double step = std::max(line / kTableStepsPerLine, (last - first) / kLargestTable);
    const Window window{t.FramePeriod(), scene.exposure, scene.schedule};
    const bool crt = scene.display == DisplayKind::kCrt;
    const WindowWeights weights = crt ? CrtWeights(scene.phosphor, window, first, last, step)
                                      : LcdWeights(scene.response, window, first, last, step);
    const int channels = crt ? kChannels : 1;

    cv::Mat3f light(t.height, t.width);
    cv::parallel_for_(cv::Range(0, t.height), [&](const cv::Range& rows) {
        for (int n = rows.start; n < rows.end; ++n) {
            for (int x = 0; x < t.width; ++x) {
                const double scanned = (n + kActiveLineShare * (x + 0.5) / t.width) * line;
                const WindowWeights::Place place = weights.PlaceOf(scanned - opening(n, x));
                double sum[kChannels] = {};
                for (int p = 0; p < kPhases; ++p) {
                    const double level = levels[p](n, x);
                    if (level == 0) continue;
                    for (int c = 0; c < channels; ++c) sum[c] += level * weights.At(c, p, place);
                }
                for (int c = 0; c < kChannels; ++c) light(n, x)[c] = static_cast<float>(sum[crt ? c : 0]);
            }
        }
    });
    return light;
}

Photograph Simulate(const Ruler& ruler, const Scene& scene) {
    Validate(scene);
    Photograph photograph;
    photograph.screenToPhoto = ScreenToPhoto(scene.placement, scene.timing.width, scene.timing.height);
    cv::Mat3f light = ScreenLight(ruler, scene, photograph.screenToPhoto);
    double brightest;
    cv::minMaxLoc(light.reshape(1), nullptr, &brightest);
    photograph.fullScale = std::max(brightest, 1e-9) / (kBrightestShare * scene.gain);
    cv::Mat3f image = FormImage(light, photograph.screenToPhoto, scene.placement.photo, scene.optics);
    Sensor sensor = scene.sensor;
    sensor.gain = 1 / photograph.fullScale;
    photograph.image = Expose(image, sensor);
    return photograph;
}

}  // namespace velmaro::photo
