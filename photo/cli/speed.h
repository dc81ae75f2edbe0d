// Shutter speeds as marked on a camera's dial and written by people: "1/250", "1/8",
// "2", "0.5", "1s"; in file names "1-250", "1_250" or "1s" at the start.
#pragma once

#include <optional>
#include <string>

namespace velmaro::photo {

// Seconds, above 0; throws std::invalid_argument naming `what` when the text is none.
double ParseSpeed(const std::string& text, const std::string& what);

// As a dial marks it: "1/250" below a second where 1/seconds is whole, else "2", "1.5".
std::string SpeedLabel(double seconds);

// The speed a person put at the start of a file's name ("1-250_a.jpg", "1_8.png",
// "1s-2.jpg", "2s.jpg"), if any. Only 1-N counts as a fraction, so that a date such as
// "2024-05-01" is not taken for one.
std::optional<double> SpeedInFileName(const std::string& fileName);

}  // namespace velmaro::photo
