#include "photo/read/phases.h"

#include <algorithm>
#include <cmath>

#include "photo/model/pictures.h"
#include "photo/read/bars.h"

namespace velmaro::photo {

namespace {

constexpr int kCountableRefreshes = 5;  // more, and a phase may come round again
constexpr double kGlowClear = 25;       // lines above the band's start that may glow on
constexpr double kPreferGuess = 0.1;    // passes by which the bars must fit another count better

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

std::optional<BarShares> SharesIn(const cv::Mat1f& shares, std::pair<double, double> range, double margin) {
    if (range.second - range.first <= 2 * margin + 0.5) return std::nullopt;
    return MeanShares(shares, range.first + margin, range.second - margin);
}

std::optional<PhaseCounts> CountsIn(const cv::Mat1f& shares, std::pair<double, double> range, double margin, int passes) {
    const auto mean = passes > 0 ? SharesIn(shares, range, margin) : std::nullopt;
    return mean ? CountPhases(*mean, passes) : std::nullopt;
}

// The rest of the screen above the band's start, less the lines next to it that glow on
// from the pass scanned just before the shutter opened.
std::pair<double, double> BeyondTheGlow(std::pair<double, double> before) {
    const double clear = std::min(kGlowClear, (before.second - before.first) / 2);
    return {before.first, before.second - clear};
}

// The passes outside the band, m. The levels' ratio guesses it; vignetting and glow may
// put the guess one off where m is large, while the bars, shares of each line's light,
// are not moved by either: a count near the guess whose passes the bars show whole,
// inside the band (m + 1) and below it (m), is taken before one whose passes they do not.
int ChoosePasses(const cv::Mat1f& shares, const Band& band, double margin) {
    if (band.passes == 0) return 0;  // the rest is dark: a ratio far above 2
    const std::optional<BarShares> regions[3] = {SharesIn(shares, band.atStart, margin), SharesIn(shares, band.atEnd, margin),
                                                 SharesIn(shares, band.afterEnd, margin)};
    auto misfit = [&](int m) {
        double worst = 0;
        for (int i = 0; i < 3; ++i)
            if (regions[i]) worst = std::max(worst, WholePassMisfit(*regions[i], i < 2 ? m + 1 : m));
        return worst;
    };
    int best = band.passes;
    for (int m = std::max(1, band.passes - 1); m <= band.passes + 1; ++m)
        if (misfit(m) + kPreferGuess < misfit(best)) best = m;
    return best;
}

}  // namespace

BandPhases PhasesOfBand(const cv::Mat1f& shares, const Band& band) {
    BandPhases r;
    const double tilt = std::max(std::abs(band.startSlope), std::abs(band.endSlope)) * 250;
    const double margin = 0.75 + tilt;
    const int m = r.passes = ChoosePasses(shares, band, margin);
    const auto atStart = CountsIn(shares, band.atStart, margin, m + 1);
    const auto atEnd = CountsIn(shares, band.atEnd, margin, m + 1);
    const auto before = CountsIn(shares, BeyondTheGlow(band.beforeStart), margin, m);
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
