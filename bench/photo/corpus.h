// Simulated photographs with their truth, drawn at random over what a reader must bear
// (placement, lens, blur, the screen's surroundings, noise, white balance, JPEG, grey,
// room light, crops), by family of case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "photo/simulate/simulate.h"

namespace velmaro::photo::bench {

enum class Family {
    kCrtBand,
    kCrtWrap,
    kCrtBlanking,
    kCrtMulti,
    kCrtSlant,
    kLcd,
    kCrtBlur,          // blur beyond the stripes' reach
    kCrtSlowPhosphor,  // phosphors at the slow end of their range
    kUpsideDown,
    kQuarterTurned,
    kMirrored,
    kNegative,
    kSlitAcross,     // a slit travelling along the screen's lines
    kRolling,        // a rolling readout, the camera on its side
    kPair,           // two photographs of a slit along the scan, the second upside down
    kSlitAlongScan,  // one photograph of a slit along the scan
    kCrtSlow,        // 1/8 to 1/2 s: more refreshes than a cycle of pictures, mostly with the marked speed
};
const std::vector<Family>& AllFamilies();
std::string Name(Family family);  // for people
std::string Key(Family family);   // for the command line: crt-band, ...

struct Case {
    Family family;
    Scene scene;
    std::string format;  // "jpg" or "png"
    int quality = 90;
    bool halveChroma = true;      // JPEG 4:2:0, else 4:4:4
    std::optional<Scene> second;  // a pair's second photograph
    std::optional<double> marked; // the speed set on the camera, seconds, where the reader is told it
};

// The n-th case of a family; the same n gives the same case.
Case MakeCase(Family family, std::uint64_t n);

}  // namespace velmaro::photo::bench
