#include "photo/simulate/truth.h"

#include <cmath>
#include <map>

#include "photo/model/pictures.h"

namespace velmaro::photo {

namespace {

struct ScanPoint {
    std::int64_t refresh;
    double position;  // lines since the top of the refresh
};

ScanPoint Scanning(double time, const Timing& timing) {
    const auto refresh = static_cast<std::int64_t>(std::floor(time / timing.FramePeriod()));
    return {refresh, (time - refresh * timing.FramePeriod()) / timing.LinePeriod()};
}

// Whether line n (1-based) is scanned, at the centre column, inside [opening, closing).
bool Lit(int n, double opening, double closing, const Timing& timing) {
    const double within = (n - 1 + kActiveLineShare / 2) * timing.LinePeriod();
    const double frame = timing.FramePeriod();
    const double k = std::ceil((opening - within) / frame);
    return k * frame + within < closing;
}

}  // namespace

Truth TruthOf(const Scene& scene, const cv::Matx33d& screenToPhoto) {
    const Timing& t = scene.timing;
    Truth truth;
    truth.exposureSeconds = scene.exposure;
    truth.exposureLines = scene.exposure / t.LinePeriod();
    const double opening = OpeningTime(scene, screenToPhoto, {t.width / 2.0, t.height / 2.0});
    const double closing = opening + scene.exposure;

    ScanPoint start = Scanning(opening, t), end = Scanning(closing, t);
    truth.startPosition = start.position;
    truth.endPosition = end.position;
    int firstLine = static_cast<int>(start.position) + 1, lastLine = static_cast<int>(end.position) + 1;
    truth.startInBlanking = firstLine > t.height;
    truth.endInBlanking = lastLine > t.height;
    if (truth.startInBlanking) ++start.refresh, firstLine = 1;
    if (truth.endInBlanking) lastLine = t.height;
    if (start.refresh > end.refresh || (start.refresh == end.refresh && firstLine > lastLine)) return truth;  // all in the blanking

    truth.firstLine = firstLine;
    truth.lastLine = lastLine;
    truth.firstPhase = scene.schedule.Phase(start.refresh);
    truth.lastPhase = scene.schedule.Phase(end.refresh);
    truth.refreshes = static_cast<int>(end.refresh - start.refresh + 1);
    std::map<std::int64_t, int> shown;
    for (std::int64_t k = start.refresh; k <= end.refresh; ++k) ++shown[scene.schedule.Picture(k)];
    for (const auto& [picture, times] : shown) truth.repeatedPictures += times > 1;

    if (scene.shutter.focalPlane) {
        const double left = OpeningTime(scene, screenToPhoto, {0, t.height / 2.0});
        const double right = OpeningTime(scene, screenToPhoto, {static_cast<double>(t.width), t.height / 2.0});
        truth.slantLines = (right - left) / t.LinePeriod();
    }
    for (int label = kLabelStep; label <= t.height; label += kLabelStep) {
        bool whole = true;
        for (int n = label - LabelHalfHeight(label); n <= label + LabelHalfHeight(label) && whole; ++n)
            whole = n < 1 || n > t.height || scene.display == DisplayKind::kLcd || Lit(n, opening, closing, t);
        if (whole) truth.labelsLit.push_back(label);
    }
    return truth;
}

nlohmann::ordered_json TruthJson(const Truth& truth, const Scene& scene, const cv::Matx33d& screenToPhoto) {
    using json = nlohmann::ordered_json;
    const Timing& t = scene.timing;
    auto optional = [](const std::optional<int>& value) { return value ? json(*value) : json(nullptr); };
    json phosphor = json::array();
    for (const Impulse& channel : scene.phosphor) {
        json components = json::array();
        for (const Exponential& e : channel) components.push_back({{"weight", e.weight}, {"tau_s", e.tau}});
        phosphor.push_back(components);
    }
    json homography = json::array();
    for (int r = 0; r < 3; ++r) homography.push_back({screenToPhoto(r, 0), screenToPhoto(r, 1), screenToPhoto(r, 2)});
    return {
        {"display", Name(scene.display)},
        {"mode", {{"width", t.width}, {"height", t.height}, {"refresh_hz", t.refreshHz}, {"vtotal", t.vtotal},
                  {"vtotal_source", Name(t.source)}}},
        {"line_period_s", t.LinePeriod()},
        {"exposure_lines", truth.exposureLines},
        {"exposure_s", truth.exposureSeconds},
        {"uncertainty_s", 0.0},
        {"first_line", optional(truth.firstLine)},
        {"first_phase", optional(truth.firstPhase)},
        {"last_line", optional(truth.lastLine)},
        {"last_phase", optional(truth.lastPhase)},
        {"refreshes", truth.refreshes},
        {"repeated_pictures", truth.repeatedPictures},
        {"slant_lines", truth.slantLines},
        {"start_position_lines", truth.startPosition},
        {"end_position_lines", truth.endPosition},
        {"start_in_blanking", truth.startInBlanking},
        {"end_in_blanking", truth.endInBlanking},
        {"labels_lit", truth.labelsLit},
        {"schedule", {{"first_phase", scene.schedule.firstPhase}, {"holds", scene.schedule.holds}}},
        {"phosphor", phosphor},
        {"response_s", scene.response},
        {"camera",
         {{"shutter", scene.shutter.focalPlane ? "focal-plane" : "leaf"},
          {"travel_s", scene.shutter.focalPlane ? json(scene.shutter.travel) : json(nullptr)},
          {"photo_width", scene.placement.photo.width},
          {"photo_height", scene.placement.photo.height},
          {"scale", scene.placement.scale},
          {"rotation_deg", scene.placement.rotationDeg},
          {"keystone_x", scene.placement.keystoneX},
          {"keystone_y", scene.placement.keystoneY},
          {"offset", {scene.placement.offset.x, scene.placement.offset.y}},
          {"blur", scene.optics.blur},
          {"vignetting", scene.optics.vignetting},
          {"room_light", scene.optics.roomLight},
          {"full_well", scene.sensor.fullWell},
          {"read_noise", scene.sensor.readNoise},
          {"gain", scene.gain},
          {"grey", scene.sensor.grey},
          {"seed", scene.sensor.seed},
          {"screen_to_photo", homography}}},
    };
}

}  // namespace velmaro::photo
