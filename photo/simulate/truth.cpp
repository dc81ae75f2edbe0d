#include "photo/simulate/truth.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "photo/model/pictures.h"

namespace velmaro::photo {

namespace {

// Rounds of finding where the beam meets a curtain that travels along the scan; each
// cuts the error by the beam's speed over the slit's, well below 1 for shutters' slits.
constexpr int kMeetingRounds = 12;
constexpr double kSettled = 0.01;  // lines: the search has settled where a round moves it less

struct ScanPoint {
    std::int64_t refresh;
    double position;  // lines since the top of the refresh
};

ScanPoint Scanning(double time, const Timing& timing) {
    const auto refresh = static_cast<std::int64_t>(std::floor(time / timing.FramePeriod()));
    return {refresh, (time - refresh * timing.FramePeriod()) / timing.LinePeriod()};
}

Span CentreColumn(const Scene& scene, const Projection& projection, double lineCoordinate) {
    return WindowAt(scene, projection, {scene.timing.width / 2.0, lineCoordinate});
}

// When the beam meets a curtain at the screen's centre column: the curtain's time where
// the line then being scanned lies. A leaf shutter or a slit across the lines needs one
// round; a slit along the scan a few.
double Meeting(const Scene& scene, const Projection& projection, bool closing) {
    const Timing& t = scene.timing;
    auto at = [&](double u) {
        const Span span = CentreColumn(scene, projection, u);
        return closing ? span.closing : span.opening;
    };
    auto next = [&](double time) { return at(std::clamp(Scanning(time, t).position, 0.5, t.height - 0.5)); };
    double time = at(t.height / 2.0);
    for (int round = 0; round < kMeetingRounds; ++round) time = next(time);
    // A curtain whose time at the screen's bottom falls after the retrace, and at its top
    // before it, never meets the beam on the screen: the search swings between the two. The
    // beam passed it in the retrace, just before the next refresh's top.
    const double again = next(time);
    const ScanPoint a = Scanning(time, t), b = Scanning(again, t);
    if (std::abs(again - time) > kSettled * t.LinePeriod() && a.refresh != b.refresh &&
        std::max(a.position, b.position) >= t.height) {
        const double frame = t.FramePeriod();
        return frame * std::floor(std::max(time, again) / frame) - kSettled * t.LinePeriod();
    }
    return time;
}

// The slit's share of travel gained per screen line and per screen column at the screen's centre.
cv::Point2d ShareSlopes(const Scene& scene, const Projection& projection) {
    const cv::Point2d centre(scene.timing.width / 2.0, scene.timing.height / 2.0);
    auto share = [&](cv::Point2d at) { return TravelShare(scene.shutter, scene.placement.photo, projection(at)); };
    return {share(centre + cv::Point2d(0.5, 0)) - share(centre - cv::Point2d(0.5, 0)),
            share(centre + cv::Point2d(0, 0.5)) - share(centre - cv::Point2d(0, 0.5))};
}

void DescribeSlit(const Scene& scene, const Projection& projection, Truth& truth) {
    const Shutter& shutter = scene.shutter;
    const double taper = shutter.Closing() - shutter.Opening();
    truth.exposureStart = scene.exposure - taper / 2;
    truth.exposureEnd = scene.exposure + taper / 2;
    const cv::Point2d slopes = ShareSlopes(scene, projection);
    truth.crossesLines = std::abs(slopes.x) > std::abs(slopes.y);
    if (*truth.crossesLines || slopes.y == 0) return;
    const double lineRate = 1 / scene.timing.LinePeriod();
    const double travel = (shutter.Opening() + shutter.Closing()) / 2;
    truth.slitSpeed = 1 / (travel * slopes.y);
    truth.bandLines = scene.exposure * lineRate / std::abs(1 - lineRate / *truth.slitSpeed);
}

}  // namespace

bool LineLit(const Scene& scene, const Projection& projection, int n) {
    const Timing& t = scene.timing;
    const Span window = CentreColumn(scene, projection, n - 0.5);
    const double within = (n - 1 + kActiveLineShare / 2) * t.LinePeriod();
    const double k = std::ceil((window.opening - within) / t.FramePeriod());
    return k * t.FramePeriod() + within < window.closing;
}

Truth TruthOf(const Scene& scene, const cv::Matx33d& screenToPhoto) {
    const Timing& t = scene.timing;
    const Projection projection = ProjectionOf(scene, screenToPhoto);
    Truth truth;
    truth.exposureSeconds = scene.exposure;
    truth.exposureLines = scene.exposure / t.LinePeriod();
    truth.rotationDeg = std::fmod(scene.placement.rotationDeg, 360.0);
    if (truth.rotationDeg < 0) truth.rotationDeg += 360;
    truth.mirrored = scene.placement.mirrored;
    truth.negative = scene.sensor.film != Film::kNone;
    if (scene.shutter.slit) {
        DescribeSlit(scene, projection, truth);
        const Span left = WindowAt(scene, projection, {0, t.height / 2.0});
        const Span right = WindowAt(scene, projection, {static_cast<double>(t.width), t.height / 2.0});
        truth.slantLines = (right.opening - left.opening) / t.LinePeriod();
    }
    for (int label = kLabelStep; label <= t.height; label += kLabelStep) {
        bool whole = true;
        for (int n = label - LabelHalfHeight(label); n <= label + LabelHalfHeight(label) && whole; ++n)
            whole = n < 1 || n > t.height || scene.display == DisplayKind::kLcd ||
                    LineLit(scene, projection, n);
        if (whole) truth.labelsLit.push_back(label);
    }

    const double opening = Meeting(scene, projection, false), closing = Meeting(scene, projection, true);
    ScanPoint start = Scanning(opening, t), end = Scanning(closing, t);
    truth.startPosition = start.position;
    truth.endPosition = end.position;
    int firstLine = static_cast<int>(start.position) + 1, lastLine = static_cast<int>(end.position) + 1;
    truth.startInBlanking = firstLine > t.height;
    truth.endInBlanking = lastLine > t.height;
    if (truth.startInBlanking) ++start.refresh, firstLine = 1;
    if (truth.endInBlanking) lastLine = t.height;
    if (start.refresh > end.refresh || (start.refresh == end.refresh && firstLine > lastLine))
        return truth;  // all in the blanking

    truth.firstLine = firstLine;
    truth.lastLine = lastLine;
    truth.firstPhase = scene.schedule.Phase(start.refresh);
    truth.lastPhase = scene.schedule.Phase(end.refresh);
    truth.refreshes = static_cast<int>(end.refresh - start.refresh + 1);
    std::map<std::int64_t, int> shown;
    for (std::int64_t k = start.refresh; k <= end.refresh; ++k) ++shown[scene.schedule.Picture(k)];
    for (const auto& [picture, times] : shown) truth.repeatedPictures += times > 1;
    return truth;
}

nlohmann::ordered_json TruthJson(const Truth& truth, const Scene& scene, const cv::Matx33d& screenToPhoto) {
    using json = nlohmann::ordered_json;
    const Timing& t = scene.timing;
    auto optional = [](const auto& value) { return value ? json(*value) : json(nullptr); };
    json phosphor = json::array();
    for (const Impulse& channel : scene.phosphor) {
        json components = json::array();
        for (const Exponential& e : channel) components.push_back({{"weight", e.weight}, {"tau_s", e.tau}});
        phosphor.push_back(components);
    }
    json homography = json::array();
    for (int r = 0; r < 3; ++r) homography.push_back({screenToPhoto(r, 0), screenToPhoto(r, 1), screenToPhoto(r, 2)});
    const Shutter& shutter = scene.shutter;
    const bool slit = shutter.slit;
    auto slitOnly = [&](double value) { return slit ? json(value) : json(nullptr); };
    const char* films[] = {"none", "grey", "colour"};
    return {
        {"display", Name(scene.display)},
        {"mode",
         {{"width", t.width},
          {"height", t.height},
          {"refresh_hz", t.refreshHz},
          {"vtotal", t.vtotal},
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
        {"orientation", {{"rotation_deg", truth.rotationDeg}, {"mirrored", truth.mirrored}}},
        {"negative", truth.negative},
        {"shutter",
         {{"kind", slit ? "slit" : "leaf"},
          {"travel_axis", slit ? json(Name(shutter.axis)) : json(nullptr)},
          {"crosses_lines", optional(truth.crossesLines)}}},
        {"curtains",
         {{"opening_travel_s", slitOnly(shutter.Opening())}, {"closing_travel_s", slitOnly(shutter.Closing())}}},
        {"exposure_across",
         {{"start_s", optional(truth.exposureStart)},
          {"centre_s", slitOnly(truth.exposureSeconds)},
          {"end_s", optional(truth.exposureEnd)},
          {"taper_stops", slit ? json(std::log2(*truth.exposureEnd / *truth.exposureStart)) : json(nullptr)}}},
        {"band_lines", optional(truth.bandLines)},
        {"slit_speed_lines_per_s", optional(truth.slitSpeed)},
        {"start_position_lines", truth.startPosition},
        {"end_position_lines", truth.endPosition},
        {"start_in_blanking", truth.startInBlanking},
        {"end_in_blanking", truth.endInBlanking},
        {"labels_lit", truth.labelsLit},
        {"schedule", {{"first_phase", scene.schedule.firstPhase}, {"holds", scene.schedule.holds}}},
        {"phosphor", phosphor},
        {"beam_spot_lines", scene.beamSpot},
        {"response_s", scene.panel.response},
        {"panel",
         {{"fall_ratio", scene.panel.fallRatio},
          {"gamma", scene.panel.gamma > 0 ? json(scene.panel.gamma) : json("srgb")},
          {"black_leak", scene.panel.leak},
          {"row_matrix_lines", scene.panel.rowMatrix}}},
        {"camera",
         {{"shutter", slit ? (shutter.rolling ? "rolling" : "focal-plane") : "leaf"},
          {"travel_s", slit ? json(shutter.travel) : json(nullptr)},
          {"travel_closing_s", slitOnly(shutter.Closing())},
          {"travel_axis", slit ? json(Name(shutter.axis)) : json(nullptr)},
          {"photo_width", scene.placement.photo.width},
          {"photo_height", scene.placement.photo.height},
          {"scale", scene.placement.scale},
          {"rotation_deg", scene.placement.rotationDeg},
          {"mirrored", scene.placement.mirrored},
          {"keystone_x", scene.placement.keystoneX},
          {"keystone_y", scene.placement.keystoneY},
          {"aspect", scene.placement.aspect},
          {"offset", {scene.placement.offset.x, scene.placement.offset.y}},
          {"blur", scene.optics.blur},
          {"blur_red", scene.optics.blurRed},
          {"blur_blue", scene.optics.blurBlue},
          {"distortion_k1", scene.optics.lens.k1},
          {"chroma_red", scene.optics.lens.chromaRed},
          {"chroma_blue", scene.optics.lens.chromaBlue},
          {"vignetting", scene.optics.vignetting},
          {"room_light", scene.optics.roomLight},
          {"border", scene.housing.border},
          {"bezel", scene.housing.bezel},
          {"bezel_reflect", scene.housing.bezelReflect},
          {"wall_reflect", scene.housing.wallReflect},
          {"full_well", scene.sensor.fullWell},
          {"read_noise", scene.sensor.readNoise},
          {"gain", scene.gain},
          {"balance_red", scene.sensor.balanceRed},
          {"balance_blue", scene.sensor.balanceBlue},
          {"grey", scene.sensor.grey},
          {"film", films[static_cast<int>(scene.sensor.film)]},
          {"seed", scene.sensor.seed},
          {"screen_to_photo", homography}}},
    };
}

}  // namespace velmaro::photo
