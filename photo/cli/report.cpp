#include "photo/cli/report.h"

#include <cmath>
#include <cstdio>

namespace velmaro::photo {

namespace {

constexpr int kMarkedDenominators[] = {8000, 4000, 2000, 1000, 500, 250, 125, 60, 30, 15, 8, 4, 2, 1};

template <typename T>
nlohmann::ordered_json Optional(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A slit's curtains: each one's time across the photo (and speed across the frame), and
// the exposure at the start, middle and end of the travel.
std::string SlitReport(const Reading& r) {
    if (r.shutter.kind != ShutterKind::kSlit || !r.curtains.openingTravel) return "";
    std::string text = "\nSlit along " + Name(*r.shutter.travelAxis) + ": ";
    auto curtain = [&](const char* name, std::optional<double> travel, std::optional<double> speed) {
        std::string s = std::string(name) + " " + Format("%.2f", 1000 * *travel) + " ms across the photo";
        if (speed) s += " (" + Format("%.2f", *speed) + " mm/ms)";
        return s;
    };
    if (r.photos.empty()) {
        text += curtain("opening curtain", r.curtains.openingTravel, r.curtains.openingSpeed) + ", " +
                curtain("closing curtain", r.curtains.closingTravel, r.curtains.closingSpeed);
    } else {
        text += curtain("the slit", r.curtains.openingTravel, r.curtains.openingSpeed);
    }
    const auto& a = r.exposureAcross;
    if (a.start && a.centre && a.end)
        text += "\nExposure at the travel's start, middle and end: " + Format("%.3f", 1000 * *a.start) + ", " +
                Format("%.3f", 1000 * *a.centre) + ", " + Format("%.3f", 1000 * *a.end) + " ms (taper " +
                Format("%+.2f", a.taperStops.value_or(0)) + " stops)";
    return text;
}

}  // namespace

MarkedSpeed NearestMarkedSpeed(double seconds) {
    MarkedSpeed best;
    double closest = INFINITY;
    for (int denominator : kMarkedDenominators) {
        const double marked = 1.0 / denominator, stops = std::log2(seconds / marked);
        if (std::abs(stops) >= closest) continue;
        closest = std::abs(stops);
        best = {denominator == 1 ? "1" : "1/" + std::to_string(denominator), marked, 100 * (seconds / marked - 1), stops};
    }
    return best;
}

std::string HumanReport(const Reading& r) {
    std::string text = Upper(Name(r.display)) + ", " + std::to_string(r.width) + "x" + std::to_string(r.height);
    if (r.refreshHz) {
        text += " at " + Format("%g", *r.refreshHz) + " Hz (" + std::to_string(*r.vtotal) + " lines, " +
                Description(*r.vtotalSource) + ")";
    }
    text += ": ";
    if (!r.exposureLines && !(r.firstLine && r.lastLine) && r.photos.empty()) {
        text += "exposure not read";
        for (const std::string& note : r.notes) text += "\nNote: " + note;
        return text + "\n";
    }
    if (r.photos.size() == 2 && r.photos[0].exposureLines && r.photos[1].exposureLines) {
        text += "a slit along the scan, upright and upside down: bands of " + Format("%.1f", *r.photos[0].exposureLines) +
                " and " + Format("%.1f", *r.photos[1].exposureLines) + " line periods";
    } else if (r.firstLine && r.lastLine) {
        text += "lines " + std::to_string(*r.firstLine) + " to " + std::to_string(*r.lastLine);
    } else {
        text += "lines not numbered";
    }
    if (r.firstPhase && r.lastPhase && *r.firstPhase == *r.lastPhase) {
        text += " of phase " + std::to_string(*r.firstPhase);
    } else if (r.firstPhase || r.lastPhase) {
        auto phase = [](const std::optional<int>& p) { return p ? std::to_string(*p) : std::string("?"); };
        text += " from phase " + phase(r.firstPhase) + " to phase " + phase(r.lastPhase);
    }
    text += r.display == DisplayKind::kLcd ? " changed" : " lit";
    if (r.refreshes && *r.refreshes > 1) text += " over " + std::to_string(*r.refreshes) + " refreshes";
    if (r.exposureLines) {
        text += ": " + Format("%.1f", *r.exposureLines) + " line periods";
        if (auto seconds = r.ExposureSeconds()) {
            const double ms = 1000 * *seconds, uncertainty = 1000 * r.UncertaintySeconds().value_or(0);
            text += " = " + Format(ms < 10 ? "%.2f" : "%.1f", ms) + " ms +- " + Format(uncertainty < 1 ? "%.2f" : "%.1f", uncertainty) +
                    " ms, about 1/" + Format("%.0f", 1 / *seconds) + " s";
            const MarkedSpeed marked = NearestMarkedSpeed(*seconds);
            text += "\nNearest marked speed " + marked.label + " s: " + Format("%+.1f", marked.deviationPercent) + " % (" +
                    Format("%+.2f", marked.deviationStops) + " stops)";
        } else {
            text += " +- " + Format("%.1f", r.uncertaintyLines.value_or(0)) + " (give --refresh for seconds)";
        }
    } else {
        text += ": exposure not read";
    }
    if (auto response = r.ResponseSeconds()) text += "\nPanel response (10-90 %): " + Format("%.2f", 1000 * *response) + " ms";
    text += SlitReport(r);
    if (r.orientation && (r.orientation->mirrored || std::abs(std::remainder(r.orientation->rotationDeg, 360.0)) > 45))
        text += "\nThe screen is turned " + Format("%.0f", r.orientation->rotationDeg) + " degrees counter-clockwise" +
                (r.orientation->mirrored ? ", mirrored" : "") + (r.negative ? ", in a negative" : "");
    else if (r.negative)
        text += "\nRead as a negative";
    for (const std::string& note : r.notes) text += "\nNote: " + note;
    return text + "\n";
}

nlohmann::ordered_json ReadingJson(const Reading& r) {
    using json = nlohmann::ordered_json;
    json j;
    j["display"] = Name(r.display);
    j["mode"] = {{"width", r.width},
                 {"height", r.height},
                 {"refresh_hz", Optional(r.refreshHz)},
                 {"vtotal", Optional(r.vtotal)},
                 {"vtotal_source", r.vtotalSource ? json(Name(*r.vtotalSource)) : json(nullptr)}};
    j["line_period_s"] = Optional(r.linePeriod);
    j["exposure_lines"] = Optional(r.exposureLines);
    j["exposure_s"] = Optional(r.ExposureSeconds());
    j["uncertainty_s"] = Optional(r.UncertaintySeconds());
    j["first_line"] = Optional(r.firstLine);
    j["first_phase"] = Optional(r.firstPhase);
    j["last_line"] = Optional(r.lastLine);
    j["last_phase"] = Optional(r.lastPhase);
    j["refreshes"] = Optional(r.refreshes);
    j["repeated_pictures"] = Optional(r.repeatedPictures);
    j["slant_lines"] = Optional(r.slantLines);
    j["uncertainty_lines"] = Optional(r.uncertaintyLines);
    j["start_in_blanking"] = r.startInBlanking;
    j["end_in_blanking"] = r.endInBlanking;
    if (auto seconds = r.ExposureSeconds()) {
        const MarkedSpeed marked = NearestMarkedSpeed(*seconds);
        j["marked_speed"] = {{"speed", marked.label},
                             {"deviation_percent", marked.deviationPercent},
                             {"deviation_stops", marked.deviationStops}};
    } else {
        j["marked_speed"] = nullptr;
    }
    j["response_s"] = Optional(r.ResponseSeconds());
    j["orientation"] = r.orientation ? json{{"rotation_deg", r.orientation->rotationDeg}, {"mirrored", r.orientation->mirrored}}
                                     : json(nullptr);
    j["negative"] = r.negative;
    j["shutter"] = {{"kind", Name(r.shutter.kind)},
                    {"travel_axis", r.shutter.travelAxis ? json(Name(*r.shutter.travelAxis)) : json(nullptr)},
                    {"crosses_lines", Optional(r.shutter.crossesLines)}};
    j["curtains"] = {{"opening_travel_s", Optional(r.curtains.openingTravel)},
                     {"closing_travel_s", Optional(r.curtains.closingTravel)}};
    if (r.curtains.openingSpeed || r.curtains.closingSpeed) {
        j["curtains"]["opening_speed_mm_per_ms"] = Optional(r.curtains.openingSpeed);
        j["curtains"]["closing_speed_mm_per_ms"] = Optional(r.curtains.closingSpeed);
    }
    j["exposure_across"] = {{"start_s", Optional(r.exposureAcross.start)},
                            {"centre_s", Optional(r.exposureAcross.centre)},
                            {"end_s", Optional(r.exposureAcross.end)},
                            {"taper_stops", Optional(r.exposureAcross.taperStops)}};
    if (r.linePeriod) {
        json candidates = json::array();
        for (double lines : r.candidateLines) candidates.push_back(lines * *r.linePeriod);
        j["candidate_exposures_s"] = candidates;
    } else {
        j["candidate_exposures_s"] = nullptr;
    }
    j["notes"] = r.notes;
    if (!r.photos.empty()) {
        j["photos"] = json::array();
        for (const Reading& photo : r.photos) j["photos"].push_back(ReadingJson(photo));
    }
    return j;
}

}  // namespace velmaro::photo
