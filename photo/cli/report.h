// A reading as people and programs receive it: a short report, and JSON with the
// names that other tools rely on.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "photo/read/reading.h"

namespace velmaro::photo {

// The marked shutter speed (1/8000 s ... 1 s) nearest to an exposure, in stops.
struct MarkedSpeed {
    std::string label;  // "1/250", "1"
    double seconds = 0;
    double deviationPercent = 0, deviationStops = 0;  // of the exposure from it
};
MarkedSpeed NearestMarkedSpeed(double seconds);

std::string HumanReport(const Reading& reading);
nlohmann::ordered_json ReadingJson(const Reading& reading);

}  // namespace velmaro::photo
