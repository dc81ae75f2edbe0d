// The screen mode asked for on the command line, and how the command line is read.
// Nothing here depends on Windows, so the same code also builds natively for fuzzing.
#pragma once

#include <cstdint>

// Width and height in pixels and lines, refresh rate in Hz (0 leaves it to the driver).
extern std::int32_t g_screenWidth;
extern std::int32_t g_screenHeight;
extern std::int32_t g_refreshRate;

constexpr std::int32_t kDefaultScreenWidth = 1024;
constexpr std::int32_t kDefaultScreenHeight = 768;
constexpr std::int32_t kMaxScreenHeight = 768;  // the ruler is 768 lines tall

// The process command line less the program name and the white space after it.
// isLeadByte tells whether a byte opens a double-byte character.
const char* ArgumentText(const char* commandLine, bool (*isLeadByte)(unsigned char));

// Sets the screen mode from the argument text: defaults first, then each
// "-x", "-y" and "-r" token in turn. The height is not checked here.
void ReadCommandLine(const char* argumentText);
