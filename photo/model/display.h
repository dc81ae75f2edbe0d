// The kinds of display the pattern runs on: a CRT, whose pixels glow only after the
// beam passes, and an LCD or OLED, whose pixels hold their light.
#pragma once

#include <string>

namespace velmaro::photo {

enum class DisplayKind { kCrt, kLcd };

inline std::string Name(DisplayKind display) { return display == DisplayKind::kCrt ? "crt" : "lcd"; }

}  // namespace velmaro::photo
