#include "photo/simulate/schedule.h"

#include <numeric>
#include <stdexcept>

#include "photo/model/pictures.h"

namespace velmaro::photo {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

std::int64_t Schedule::Picture(std::int64_t refresh) const {
    const std::int64_t cycle = std::accumulate(holds.begin(), holds.end(), std::int64_t{0});
    const std::int64_t cycles = FloorDiv(refresh, cycle);
    std::int64_t rest = refresh - cycles * cycle, picture = cycles * static_cast<std::int64_t>(holds.size());
    for (int hold : holds) {
        if (rest < hold) break;
        rest -= hold;
        ++picture;
    }
    return picture;
}

int Schedule::Phase(std::int64_t refresh) const {
    const std::int64_t phase = (firstPhase + Picture(refresh)) % kPhases;
    return static_cast<int>(phase < 0 ? phase + kPhases : phase);
}

void Validate(const Schedule& schedule) {
    if (schedule.firstPhase < 0 || schedule.firstPhase >= kPhases) throw std::invalid_argument("the phase must be 0 to 4");
    if (schedule.holds.empty()) throw std::invalid_argument("the hold pattern is empty");
    for (int hold : schedule.holds)
        if (hold < 1 || hold > 1000) throw std::invalid_argument("a picture stays up for 1 to 1000 refreshes");
}

}  // namespace velmaro::photo
