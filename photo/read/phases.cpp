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
// Of the levels' ratio, either way: what vignetting and a JPEG leave of it. A JPEG keeps a
// flat area's mean only to a step of its coarsest quantiser, the same over the whole area:
// the two levels may each be off by some tenths of a per cent, however many pixels are
// averaged.
constexpr double kRatioError = 0.01;
constexpr double kGlowShare = 0.15;     // of (ratio - 1) that slow light cut short or glowing on may take from it
// Lines over which a phosphor's fast light still falls (150 us at the fastest line rates):
// the band's last lines lose that much of their extra pass's light when the shutter
// closes, which in a short band is a large part of its level.
constexpr double kFastDecayLines = 10;
constexpr double kMostCut = 0.5;        // of the band's extra light, beyond which its level bounds the count from above alone
constexpr double kShareError = 0.006;   // of a bar's share of the light: its noise and blur
constexpr double kClippedShareError = 0.03;  // ... where clipped white holds the shares up and their scale is fitted
constexpr double kLeastClippedScale = 0.97;  // clipping only lowers the white: the scale it puts on shares, at least
constexpr double kClippedScaleSlack = 0.05;  // of that scale, what vignetting between the band and the rest may move
constexpr int kEvenBlock = 32;          // lines averaged together to see whether the shares change down the screen
constexpr double kEvenShare = 0.03;     // of a bar's share, that such blocks may differ by where nothing changed
constexpr double kSeenShare = 0.05;     // of the light, below which a phase was not seen (one refresh in 20 or fewer; over more, every phase shows about a fifth)
constexpr double kGrownClear = 3;       // share errors by which the extra phase's growth must lead
constexpr int kMostPasses = 400;        // refreshes in an exposure, at most (over 4 s at 100 Hz)
constexpr double kScaleStep = 0.002;    // of the shares' scale, where their white is known only to within some per cent

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

// The phase that one pass more added, from the shares' change alone: where a share's error
// times the passes nears half a pass, neither side counts whole, yet the extra picture's
// share still grows from the rest into the band by about 1 / (m + 1) more than any other's.
std::optional<int> GrownPhase(const cv::Mat1f& shares, std::pair<double, double> inside,
                              std::pair<double, double> outside, double margin, int m) {
    const auto in = SharesIn(shares, inside, margin), out = SharesIn(shares, outside, margin);
    if (m <= 0 || !in || !out) return std::nullopt;
    const PhaseShares a = SharesOfPhases(*in), b = SharesOfPhases(*out);
    std::array<double, kPhases> grown{};
    for (int p = 0; p < kPhases; ++p) grown[p] = a[p] - b[p];
    const int top = static_cast<int>(std::max_element(grown.begin(), grown.end()) - grown.begin());
    double second = -INFINITY;
    for (int p = 0; p < kPhases; ++p)
        if (p != top) second = std::max(second, grown[p]);
    const double gap = grown[top] - second;
    if (gap < std::max(kGrownClear * kShareError, 0.5 / (m + 1))) return std::nullopt;
    return top;
}

// The phase of the band's extra pass where its white is clipped, and how far the bars miss
// it (of a share). The white is held down, and the bars' shares there up, by one factor:
// the band's white over the photo's full scale, which is (m + 1) / m times the rest's
// white over the clipped white, the levels' ratio; a bar lit on every pass is clipped
// with the white. The band's counts are the rest's and one pass more of the phase
// whose shares, so scaled, the bars fit; nullopt where none fits clearly better.
struct ClippedFit {
    std::optional<int> extra;
    double misfit = INFINITY;
};

ClippedFit ExtraPhaseOfClipped(const BarShares& band, const PhaseCounts& rest, int m, double ratio) {
    const double held = (m + 1.0) / (m * ratio);
    std::array<std::pair<double, int>, kPhases> fits{};
    for (int q = 0; q < kPhases; ++q) {
        BarShares expected{};
        int below = 0;
        double across = 0, square = 0;
        for (int j = 0; j < kBars; ++j) {
            below += rest[j] + (j == q ? 1 : 0);
            expected[j] = below / static_cast<double>(m + 1);
            if (expected[j] < 1) across += band[j] * expected[j], square += expected[j] * expected[j];
        }
        // The factor within what vignetting between the band's place and the rest's leaves
        // of the levels' ratio, and never below one: clipping only lowers the white.
        const double fitted = square > 0 ? across / square : held;
        const double scale = std::clamp(fitted, std::max(kLeastClippedScale, held * (1 - kClippedScaleSlack)),
                                        std::max(kLeastClippedScale, held * (1 + kClippedScaleSlack)));
        double worst = 0;
        for (int j = 0; j < kBars; ++j) worst = std::max(worst, std::abs(band[j] - std::min(1.0, scale * expected[j])));
        fits[q] = {worst, q};
    }
    std::sort(fits.begin(), fits.end());
    ClippedFit fit;
    fit.misfit = fits[0].first;
    if (fits[0].first <= kClippedShareError && fits[1].first - fits[0].first >= kClippedShareError) fit.extra = fits[0].second;
    return fit;
}

// The band's counts where its white is clipped: the rest's and the extra pass.
std::optional<PhaseCounts> CountsOfClipped(const cv::Mat1f& shares, const Band& band, std::pair<double, double> inside,
                                           const std::optional<PhaseCounts>& rest, double margin, int m,
                                           std::optional<int>& extra) {
    const auto mean = SharesIn(shares, inside, margin);
    if (!mean || !rest || m <= 0) return std::nullopt;
    extra = ExtraPhaseOfClipped(*mean, *rest, m, band.ratio).extra;
    if (!extra) return std::nullopt;
    PhaseCounts counts = *rest;
    ++counts[*extra];
    return counts;
}

// A count of m passes stays open unless the bars fit it clearly worse than the best, beyond
// what their noise does to its share of a pass (a share's error times the passes).
bool FitsAboutAsWell(double misfit, double best, int m) { return misfit <= best + kPreferGuess + kShareError * (m + 1); }

// The passes outside the band, m. The levels' ratio guesses it; vignetting and glow may
// put the guess one off where m is large, while the bars, shares of each line's light,
// are not moved by either: a count near the guess whose passes the bars show whole,
// inside the band (m + 1) and beside it (m), is taken before one whose passes they do not.
//
// Where m is large the levels' ratio, (m + 1) / m, tells little, and the bars show whole
// passes for several counts: every count both allow is returned, the likeliest first.
// Of a band's level, what the decay cut short at its end may take: the band's last lines
// lose that much of their extra pass's light when the shutter closes.
double DecayCut(const Band& band) { return std::min(1.0, kFastDecayLines / std::max(band.length, 1.0)); }

// Each region's shares with the passes beyond m that its lines saw. Where the band's white
// alone is clipped, the band's shares are held up: the rest's count the passes.
std::vector<std::pair<BarShares, int>> CountedRegions(const cv::Mat1f& shares, const Band& band, double margin) {
    std::vector<std::pair<BarShares, int>> regions;
    auto add = [&](std::pair<double, double> range, int extra) {
        if (const auto mean = SharesIn(shares, range, margin)) regions.push_back({*mean, extra});
    };
    // The band's own lines count one pass more, but for a band so short that the decay cut
    // short at its end takes much of its last picture's light: those hold its share down.
    if (!band.clippedOnItsLines && DecayCut(band) <= kMostCut) add(band.atStart, 1), add(band.atEnd, 1);
    add(BeyondTheGlow(band.beforeStart), 0), add(band.afterEnd, 0);
    return regions;
}

BarShares Scaled(BarShares shares, double scale) {
    for (double& s : shares) s *= scale;
    return shares;
}

// How far the regions' shares, times `scale`, lie from m passes (and m + 1 in the band).
double RegionsMisfit(const std::vector<std::pair<BarShares, int>>& regions, int m, double scale) {
    double worst = 0;
    for (const auto& [mean, extra] : regions) worst = std::max(worst, WholePassMisfit(Scaled(mean, scale), m + extra));
    return worst;
}

// The scale that the white's uncertainty allows (1 where the white was measured) that
// brings the regions' shares nearest m passes.
double ScaleFor(const std::vector<std::pair<BarShares, int>>& regions, const Band& band, int m) {
    if (band.leastShareScale == band.mostShareScale) return band.leastShareScale;
    double best = 1, least = INFINITY;
    for (double scale = band.leastShareScale; scale <= band.mostShareScale + 1e-9; scale += kScaleStep)
        if (const double misfit = RegionsMisfit(regions, m, scale); misfit < least) least = misfit, best = scale;
    return best;
}

std::vector<int> PassCandidates(const cv::Mat1f& shares, const Band& band, double margin) {
    if (band.passes == 0) return {0};  // the rest is dark: a ratio far above 2
    const std::vector<std::pair<BarShares, int>> regions = CountedRegions(shares, band, margin);
    const auto inside = band.clippedOnItsLines ? SharesIn(shares, band.atStart, margin) : std::nullopt;
    auto misfit = [&](int m) {
        double worst = RegionsMisfit(regions, m, ScaleFor(regions, band, m));
        // The band's bars, held down with its clipped white, must fit the rest's counts and
        // one pass more: in passes, as the rest's shares are.
        if (inside && !regions.empty()) {
            const auto rest = CountPhases(regions.front().first, m);
            worst = std::max(worst, rest ? ExtraPhaseOfClipped(*inside, *rest, m, band.ratio).misfit * (m + 1) : INFINITY);
        }
        return worst;
    };
    // The counts whose ratio lies within the levels' own error of the measured one. The
    // slow light of the passes beside the edges only ever makes the band look dimmer; a
    // JPEG makes it dimmer or brighter.
    // Clipped white holds the band's level down: its ratio is then only the least the true
    // one may be, and bounds the count from above alone.
    // So does a band so short that the decay cut short at its end takes much of its light.
    auto countAt = [](double ratio) { return ratio > 1 ? 1 / (ratio - 1) : static_cast<double>(kMostPasses); };
    const double cut = DecayCut(band);
    // So, too, the rest between a wrapped band's two parts where it is as thin: the fall
    // that the decay spreads before the end and the blur fill it, and its level seen lies
    // above the true one, by as much as its depth.
    const bool thinRest = band.wraps && band.start - band.end < kFastDecayLines / kMostCut;
    const bool lowerBound = band.clipped || cut > kMostCut || thinRest;
    const double lost = lowerBound ? 0 : cut / (1 - cut);  // of the level seen, what the cut may have taken
    const double excess = std::max(0.0, band.ratio - 1), error = kRatioError + (kGlowShare + lost) * excess;
    const double likeliest = excess * (1 + kGlowShare / 2) / (1 - cut / 2);  // what is lost taken as half its most
    const int fewest = lowerBound ? 1 : std::max(1, static_cast<int>(std::floor(countAt(band.ratio + error))));
    const int most = std::min(kMostPasses, std::max(fewest, static_cast<int>(std::ceil(countAt(band.ratio - kRatioError)))));
    struct Scored {
        int m;
        double misfit, distance;  // distance: of the ratio, in the levels' errors
    };
    std::vector<Scored> scored;
    double best = INFINITY;
    for (int m = fewest; m <= most; ++m) {
        scored.push_back({m, misfit(m), lowerBound ? 0.0 : std::abs(1.0 / m - likeliest) / error});
        best = std::min(best, scored.back().misfit);
    }
    std::vector<Scored> open;
    for (const Scored& s : scored)
        if (FitsAboutAsWell(s.misfit, best, s.m)) open.push_back(s);
    // Along a cycle's counts apart, the bars fit about equally (their misfit there grows by
    // less than a tenth of a pass in five, no more than blur may bias it); the levels' ratio
    // ranks those as much.
    std::sort(open.begin(), open.end(),
              [](const Scored& a, const Scored& b) { return a.misfit + a.distance < b.misfit + b.distance; });
    std::vector<int> counts;
    for (const Scored& s : open) counts.push_back(s.m);
    return counts;  // never empty: the best fit is open
}

// Counts whose passes the shares fit about as well as the best one.
std::vector<int> OpenCounts(const std::vector<std::pair<int, double>>& misfits) {
    double best = INFINITY;
    for (const auto& [m, misfit] : misfits) best = std::min(best, misfit);
    std::vector<std::pair<double, int>> open;
    for (const auto& [m, misfit] : misfits)
        if (FitsAboutAsWell(misfit, best, m)) open.push_back({misfit, m});
    std::stable_sort(open.begin(), open.end());
    std::vector<int> counts;
    for (const auto& [misfit, m] : open) counts.push_back(m);
    return counts;
}

}  // namespace

std::optional<BarShares> EvenShares(const cv::Mat1f& barShares) {
    const auto all = MeanShares(barShares, 0, barShares.rows);
    if (!all) return std::nullopt;
    for (int from = 0; from + kEvenBlock <= barShares.rows; from += kEvenBlock) {
        const auto block = MeanShares(barShares, from, from + kEvenBlock);
        if (!block) continue;
        for (int j = 0; j < kBars; ++j)
            if (std::abs((*block)[j] - (*all)[j]) > kEvenShare) return std::nullopt;
    }
    return all;
}

int PhasesSeen(const BarShares& shares) {
    const PhaseShares phases = SharesOfPhases(shares);
    return static_cast<int>(std::count_if(phases.begin(), phases.end(), [](double s) { return s > kSeenShare; }));
}

std::vector<int> WholeRefreshCandidates(const BarShares& shares) {
    // Fewer than five pictures seen were up one or two refreshes each.
    const int seen = PhasesSeen(shares);
    std::vector<std::pair<int, double>> misfits;
    for (int n = std::max(1, seen); n <= (seen < kPhases ? 2 * seen : kMostPasses); ++n)
        misfits.push_back({n, WholePassMisfit(shares, n)});
    return OpenCounts(misfits);
}

BandPhases PhasesOfBand(const cv::Mat1f& barShares, const Band& band) {
    BandPhases r;
    const double tilt = std::max(std::abs(band.startSlope), std::abs(band.endSlope)) * 250;
    const double margin = 0.75 + tilt;
    r.passCandidates = PassCandidates(barShares, band, margin);
    r.ranked = !band.clipped;
    const int m = r.passes = r.passCandidates.front();
    // Shares whose white is known only to a scale are read at the scale that fits the
    // likeliest count best.
    const cv::Mat1f shares = barShares * ScaleFor(CountedRegions(barShares, band, margin), band, m);
    const auto before = CountsIn(shares, BeyondTheGlow(band.beforeStart), margin, m);
    const auto after = CountsIn(shares, band.afterEnd, margin, m);
    std::optional<PhaseCounts> atStart, atEnd;
    if (band.clippedOnItsLines) {
        atStart = CountsOfClipped(shares, band, band.atStart, before, margin, m, r.first);
        atEnd = CountsOfClipped(shares, band, band.atEnd, after, margin, m, r.last);
    } else {
        atStart = CountsIn(shares, band.atStart, margin, m + 1);
        atEnd = CountsIn(shares, band.atEnd, margin, m + 1);
        if (atStart && (m == 0 || before)) r.first = ExtraPhase(*atStart, before);
        if (atEnd && (m == 0 || after)) r.last = ExtraPhase(*atEnd, after);
        if (!r.first) r.first = GrownPhase(shares, band.atStart, BeyondTheGlow(band.beforeStart), margin, m);
        if (!r.last) r.last = GrownPhase(shares, band.atEnd, band.afterEnd, margin, m);
    }
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
