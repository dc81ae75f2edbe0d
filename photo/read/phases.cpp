#include "photo/read/phases.h"

#include <algorithm>
#include <cmath>

#include "photo/model/pictures.h"
#include "photo/read/bars.h"

namespace velmaro::photo {

namespace {

constexpr int kCountableRefreshes = 5;  // more, and a phase may come round again

// The one phase that `more` holds once more than `fewer`; nullopt when that is not so.
std::optional<int> ExtraPhase(const PhaseCounts& more, const std::optional<PhaseCounts>& fewer) {
    std::optional<int> extra;
    for (int p = 0; p < kPhases; ++p) {
        const int difference = more[p] - (fewer ? (*fewer)[p] : 0);
        if (difference < 0 || difference > 1 || (difference == 1 && extra)) return std::nullopt;
        if (difference == 1) extra = p;
    }
    return extra;
}

// Over more refreshes than phases, the phases advance by (last - first) mod 5 plus a
// multiple of 5. A picture stays up for at most two refreshes (the timer is never
// slower than half the refresh rate), so at most half the refreshes repeat one; the
// count is given when that leaves one possibility.
std::optional<int> RepeatsFromAdvance(int refreshes, int firstPhase, int lastPhase) {
    const int advance = ((lastPhase - firstPhase) % kPhases + kPhases) % kPhases;
    std::optional<int> repeats;
    for (int advances = advance; advances <= refreshes - 1; advances += kPhases) {
        const int r = refreshes - 1 - advances;
        if (r > refreshes / 2) continue;
        if (repeats) return std::nullopt;
        repeats = r;
    }
    return repeats;
}

// Where the rest beside an edge is too thin (or off the screen) to read, the phases still
// follow from their order. The two parts of a wrapped band hold the same passes but for
// the first (bottom part) and the last (top part); a band that does not wrap holds every
// refresh of the window, whose phases run on from the first to the last.
void OrderPhases(const Band& band, int m, const std::optional<PhaseCounts>& atStart,
                 const std::optional<PhaseCounts>& atEnd, BandPhases& r) {
    if (r.first && r.last) return;
    if (band.wraps && atStart && atEnd) {
        std::optional<int> first, last;
        for (int p = 0; p < kPhases; ++p) {
            const int d = (*atStart)[p] - (*atEnd)[p];
            if (d == 1 && !first) first = p;
            else if (d == -1 && !last) last = p;
            else if (d != 0) return;
        }
        if (!r.first) r.first = first;
        if (!r.last) r.last = last;
        return;
    }
    const auto& all = atStart ? atStart : atEnd;
    if (band.wraps || !all || m + 1 > kCountableRefreshes) return;
    int reach = 0;  // phases from the known end to the farthest one seen
    const int known = r.first ? *r.first : r.last ? *r.last : -1;
    if (known < 0) return;
    for (int p = 0; p < kPhases; ++p) {
        if ((*all)[p] == 0) continue;
        const int offset = r.first ? (p - known + kPhases) % kPhases : (known - p + kPhases) % kPhases;
        reach = std::max(reach, offset);
    }
    if (!r.last) r.last = (known + reach) % kPhases;
    else r.first = (known - reach + kPhases) % kPhases;
}

std::optional<PhaseCounts> CountsIn(const cv::Mat1f& shares, std::pair<double, double> range, double margin, int passes) {
    if (passes <= 0 || range.second - range.first <= 2 * margin + 0.5) return std::nullopt;
    const auto mean = MeanShares(shares, range.first + margin, range.second - margin);
    return mean ? CountPhases(*mean, passes) : std::nullopt;
}

}  // namespace

BandPhases PhasesOfBand(const cv::Mat1f& shares, const Band& band) {
    BandPhases r;
    const int m = band.passes;
    const double tilt = std::max(std::abs(band.startSlope), std::abs(band.endSlope)) * 250;
    const double margin = 0.75 + tilt;
    const auto atStart = CountsIn(shares, band.atStart, margin, m + 1);
    const auto atEnd = CountsIn(shares, band.atEnd, margin, m + 1);
    const auto before = CountsIn(shares, band.beforeStart, margin, m);
    const auto after = CountsIn(shares, band.afterEnd, margin, m);
    if (atStart && (m == 0 || before)) r.first = ExtraPhase(*atStart, before);
    if (atEnd && (m == 0 || after)) r.last = ExtraPhase(*atEnd, after);
    OrderPhases(band, m, atStart, atEnd, r);
    r.refreshes = m + 1 + (band.wraps ? 1 : 0);
    if (r.refreshes <= kCountableRefreshes && atStart && (!band.wraps || r.last)) {
        // Each phase comes once in five refreshes: one seen twice is a picture that stayed up.
        PhaseCounts seen = *atStart;
        if (band.wraps) ++seen[*r.last];
        r.repeatedPictures = static_cast<int>(std::count_if(seen.begin(), seen.end(), [](int c) { return c > 1; }));
    } else if (r.first && r.last) {
        r.repeatedPictures = RepeatsFromAdvance(r.refreshes, *r.first, *r.last);
        if (!r.repeatedPictures) r.notes.push_back("the bars cannot tell how many pictures stayed up for two refreshes");
    }
    if (!r.first || !r.last) r.notes.push_back("the bars do not show the phases clearly");
    return r;
}

}  // namespace velmaro::photo
