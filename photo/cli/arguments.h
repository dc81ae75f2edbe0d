// Values on the command line: numbers, sizes and times as people write them. Each
// throws std::invalid_argument naming what was wrong.
#pragma once

#include <string>
#include <utility>

namespace velmaro::photo {

// A whole string as a finite number; `what` names it in the error.
double ParseNumber(const std::string& text, const std::string& what);

// Seconds as "0.004" or "1/250"; `what` names it in the error.
double ParseSeconds(const std::string& text, const std::string& what);

// "1024x768" as width and height.
std::pair<int, int> ParseSize(const std::string& text, const std::string& what);

}  // namespace velmaro::photo
