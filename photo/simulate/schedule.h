// Which picture each refresh shows. The program makes one new picture per timer
// message and the flip shows it at the next refresh; when timer messages come slower
// than refreshes, a picture stays up for two refreshes.
#pragma once

#include <cstdint>
#include <vector>

namespace velmaro::photo {

struct Schedule {
    int firstPhase = 0;         // phase of the picture that refresh 0 shows
    std::vector<int> holds{1};  // refreshes that successive pictures stay up, repeated

    // Picture index of refresh k (any integer): refresh 0 begins picture 0.
    std::int64_t Picture(std::int64_t refresh) const;
    int Phase(std::int64_t refresh) const;
};

// Throws std::invalid_argument unless every hold is 1 or more and the phase is 0..4.
void Validate(const Schedule& schedule);

}  // namespace velmaro::photo
