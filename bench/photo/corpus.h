// Simulated photographs with their truth, drawn at random over the nuisances a reader
// must bear (placement, blur, noise, JPEG, grey, room light), by family of case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "photo/simulate/simulate.h"

namespace velmaro::photo::bench {

enum class Family { kCrtBand, kCrtWrap, kCrtBlanking, kCrtMulti, kCrtSlant, kLcd };
const std::vector<Family>& AllFamilies();
std::string Name(Family family);

struct Case {
    Family family;
    Scene scene;
    std::string format;  // "jpg" or "png"
    int quality = 90;
};

// The n-th case of a family; the same n gives the same case.
Case MakeCase(Family family, std::uint64_t n);

}  // namespace velmaro::photo::bench
