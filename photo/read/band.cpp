#include "photo/read/band.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>
#include <tuple>

#include "photo/read/robust.h"

namespace velmaro::photo {

namespace {

constexpr int kGap = 3;         // samples left out on each side of an edge (its blur)
constexpr int kRun = 16;        // samples averaged on each side of an edge
constexpr int kShortestRun = 4; // samples: a side needs at least this many
constexpr double kStep = 0.035; // edge contrast (in - out) / (in + out) below which no edge stands out
constexpr double kFaintStep = 0.006;  // ... looked for where many passes lit the whole screen
constexpr double kAgreement = 0.75;   // share of the groups below which a band's shape is in doubt
constexpr double kNearlyFaint = 1.15; // levels' ratio below which edges are barely above the least step
constexpr int kScreenEdge = 6;  // samples at the screen's top and bottom that blur dims
constexpr double kLengthSlack = 0.3;  // lines that the groups' lengths may differ by however well they agree
constexpr int kMissingSamples = 8;  // a group missing more samples than the most complete one is not read
constexpr double kEdgeClear = 20;  // lines inside the band kept clear of its edges for its level
constexpr double kBelowEnd = 2;    // lines below the end's middle that blur still lights
constexpr double kOutside = 12;    // lines of the rest of the screen whose level is taken
constexpr int kWidthReach = 40;    // lines on each side of an edge within which its fall is followed
constexpr double kRatioRun = 40;   // lines on each side of an edge whose levels give the ratio
constexpr double kShortestRatioRun = 8;  // lines of the rest, at least, beside them (a short gap of a wrapped band)
constexpr double kGlowClear = 25;  // lines above a start that the pass before the opening may light
constexpr double kLastLines = 2;   // the screen's last lines, whose light tells an edge near them from the blanking
constexpr double kFullShare = 0.85;  // of the band's level, that lines scanned after an opening reach
constexpr double kDarkShare = 0.05;  // of the band's level, below which lines after an end are unlit
constexpr double kNearTop = 5;      // lines: a rise this near the screen's top is its own edge, blurred or placed off by the grid far from the ruler
constexpr double kGlowReach = 100;   // lines: a pass's slow light lifts the lines this far before it by less than the least step
constexpr double kClearStep = 0.2;   // of the rest's level: a band's step this large stands clear of vignetting
constexpr double kNearBottom = 12;   // lines: an end this near the screen's bottom may be a close in the blanking
// lines: an end this near the screen's bottom may be the fall that the fast light's decay
// spreads before a close in the blanking (up to 150 us, at line rates up to 80 kHz)
constexpr double kDecayReach = 24;
constexpr double kFarAboveStart = 4;
constexpr double kPartReach = 20;   // lines beside an edge whose light tells the parts' levels
constexpr double kBlurClear = 2;    // lines of an edge's blur left out of them
constexpr double kLeastPartStep = 0.2;  // of one edge's step, below which the other is not the same band's  // lines above a start, at least, whose level stands for the rest's
constexpr double kUnlitRest = 0.1;   // of the brightest lines, below which the darkest were never lit
// Telling an opening on the screen's first lines from one in the blanking:
constexpr double kTopWindow = 14;          // lines at the screen's top whose light is fitted
constexpr double kShortestTemplate = 30;   // lines: in a shorter band the two edges' light overlaps
constexpr double kTopEdgeSlack = 1;        // lines: how far off the grid may place the screen's top
constexpr double kLeastBlur = 0.2, kMostBlur = 1.3;  // lines: the beam spot and the lens together
constexpr double kLeastGlowScale = 0.5, kMostGlowScale = 2;  // the top's light over the end's
constexpr double kEarliestGlowStart = -3, kLatestGlowStart = 15;  // start crossings looked at
// Steps (lines) of the search over the edge's place, the blur and the start.
constexpr double kTopEdgeStep = 0.2, kTopBlurStep = 0.1, kCoarseStartStep = 0.25, kFineStartStep = 0.05;
constexpr double kThinnestEdgePart = 6;    // lines: a part of a band too thin to show its level at the screen's edge
constexpr double kEdgeLevelReach = 8;      // lines from the screen's edge within which that level is taken
constexpr double kMostScreenStretch = 0.03;  // of the height: what distortion may make of it, beyond which an edge was misread
constexpr double kFitsClearlyBetter = 15;  // misfit ratio: what noise and the edge's model leave below it
constexpr double kLeastSeenGlow = 0.005;   // of the band's level: a misfit smaller than noise and vignetting's
constexpr double kNoisyShare = 0.01;  // of a level's samples, that noise may lift to the photo's full scale
constexpr double kMostlyClipped = 0.5;  // of the band's white samples at full scale, beyond which its shares are held up

// Where a group's band lies: its start edge (brighter below) and end edge (brighter above),
// each nullopt where the band touches the screen's top or bottom.
struct GroupBand {
    std::optional<double> start, end;  // line coordinates, from the profile's first row
    // Where an edge is off the screen: the earliest line coordinate that the opening (in the
    // refresh before) or the closing may have been scanned at.
    std::optional<double> startFrom, endFrom;
    std::optional<double> startTo;  // where the start may lie this far into the screen
    double ratio = INFINITY;           // lit-band level over the rest's, both less black
    double endWidth = NAN;             // lines from 3/4 to 1/4 of the end's fall
    bool clipped = false;              // some of its white at the photo's full scale
    double x = 0;
    // Where this group shows the screen's own top and bottom, lit by a band over the
    // blanking: the grid of a thin part, numbered by the other part, may place them some
    // lines off far from the ruler.
    std::optional<double> screenTop, screenBottom;
};

// The darkest of a group's lines (a low percentile, clear of the screen's own top and
// bottom) as a share of its brightest: near 0 where some lines were never lit, at least
// m / (m + 1), dimmed by vignetting, where every line was lit m times or more.
double DarkestShare(const std::vector<float>& v, double black) {
    if (v.size() <= 2 * kScreenEdge + 2) return 1;
    std::vector<float> inside(v.begin() + kScreenEdge, v.end() - kScreenEdge);
    const auto low = inside.begin() + static_cast<std::ptrdiff_t>(0.05 * inside.size());
    const auto high = inside.begin() + static_cast<std::ptrdiff_t>(0.95 * inside.size());
    std::nth_element(inside.begin(), low, inside.end());
    const double dark = *low - black;
    std::nth_element(inside.begin(), high, inside.end());
    const double bright = *high - black;
    return bright > 0 ? std::max(0.0, dark) / bright : 1;
}

// Line coordinate of sample j's middle.
double U(double j) { return (j + 0.5) / kSamplesPerLine; }

struct Sides {
    double above, below;
};

// Mean levels above and below sample j. The screen's own top and bottom lines, dimmed
// by blur, are left out.
// Windows stay within [from, to) when given: away from the band's other edge.
std::optional<Sides> SidesOf(const std::vector<double>& sums, int j, int from = 0, int to = 1 << 30) {
    const int n = std::min(static_cast<int>(sums.size()) - 1 - kScreenEdge, to);
    const int aboveFrom = std::max({kScreenEdge, j - kGap - kRun, from}), aboveTo = j - kGap;
    const int belowFrom = j + kGap, belowTo = std::min(n, j + kGap + kRun);
    if (aboveTo - aboveFrom < kShortestRun || belowTo - belowFrom < kShortestRun) return std::nullopt;
    return Sides{(sums[aboveTo] - sums[aboveFrom]) / (aboveTo - aboveFrom), (sums[belowTo] - sums[belowFrom]) / (belowTo - belowFrom)};
}

// Where the profile crosses the middle of two levels near sample j, to a fraction.
double Crossing(const std::vector<float>& v, int j, double level) {
    const int from = std::max(1, j - kGap - 2), to = std::min(static_cast<int>(v.size()) - 1, j + kGap + 2);
    double best = j, distance = INFINITY;
    for (int i = from; i <= to; ++i) {
        const double a = v[i - 1] - level, b = v[i] - level;
        if ((a < 0) == (b < 0)) continue;
        const double at = i - 1 + a / (a - b);
        if (std::abs(at - j) < distance) distance = std::abs(at - j), best = at;
    }
    return U(best);
}

// Mean of v over the samples whose middles lie in [from, to) (line coordinates); NaN of none.
double MeanOver(const std::vector<float>& v, double black, double from, double to) {
    const int a = std::max(0, static_cast<int>(std::ceil(from * kSamplesPerLine - 0.5)));
    const int b = std::min(static_cast<int>(v.size()), static_cast<int>(std::ceil(to * kSamplesPerLine - 0.5)));
    if (b <= a) return NAN;
    std::vector<double> values(v.begin() + a, v.begin() + b);
    return Median(values) - black;
}

// The band's level and the rest's, both less black. The band's is taken inside it, away
// from both edges: the phosphor's fast light fades over some lines at the end, its slow
// light over tens. The rest's below the end, where nothing glows: lines there were last
// scanned after the shutter closed. Above the start, the lines scanned just before the
// opening glow on into the window; where the band ends off the screen, the rest is taken
// as far above the start as the screen goes. Of a wrapped band, the part at the top
// holds the band's level (the part at the bottom may be the glow of a start in the
// blanking).
struct Levels {
    double in = NAN, out = NAN;
    double bottom = NAN;  // the screen's last lines
};

Levels LevelsOf(const std::vector<float>& v, double black, std::optional<double> start, std::optional<double> end) {
    const double extent = static_cast<double>(v.size()) / kSamplesPerLine;
    const double top = kScreenEdge / double(kSamplesPerLine), bottom = extent - top;
    Levels l;
    l.bottom = MeanOver(v, black, bottom - kLastLines, bottom);
    if (start && end && *end < *start) {
        l.in = MeanOver(v, black, top, *end - std::min(kEdgeClear, (*end - top) / 3));
        l.out = MeanOver(v, black, *end + kBelowEnd, std::min(*end + kBelowEnd + kOutside, *start));
    } else {
        const double from = start.value_or(top), to = end.value_or(bottom);
        const double clear = std::min(kEdgeClear, (to - from) / 4);
        l.in = MeanOver(v, black, from + (start ? clear : 0), to - (end ? clear : 0));
        if (end) l.out = MeanOver(v, black, *end + kBelowEnd, std::min(*end + kBelowEnd + kOutside, bottom));
        else if (start) l.out = MeanOver(v, black, top, top + std::min(kOutside, (*start - top) / 3));
    }
    return l;
}

// The profile's value at line coordinate u, between its samples; its ends held beyond.
double InterpolateAt(const std::vector<float>& v, double u) {
    const double p = std::clamp(u * kSamplesPerLine - 0.5, 0.0, static_cast<double>(v.size() - 1));
    const int j = std::min(static_cast<int>(p), static_cast<int>(v.size()) - 2);
    const double f = p - j;
    return v[j] * (1 - f) + v[j + 1] * f;
}

// The screen's own top edge, blurred: the share of a line's light that a place u lines
// below it keeps, the edge lying at `edge` and the blur a Gaussian of `blur` lines.
double ScreenEdgeShare(double u, double edge, double blur) { return 0.5 * std::erfc((edge - u) / (blur * std::sqrt(2.0))); }

// The screen's top edge as the grid may place it and the photo may blur it.
std::vector<std::vector<double>> TopEdgeMasks(int samples) {
    std::vector<std::vector<double>> masks;
    for (double edge = -kTopEdgeSlack; edge <= kTopEdgeSlack + 1e-9; edge += kTopEdgeStep)
        for (double blur = kLeastBlur; blur <= kMostBlur + 1e-9; blur += kTopBlurStep) {
            std::vector<double> mask(samples);
            for (int j = 0; j < samples; ++j) mask[j] = ScreenEdgeShare(U(j), edge, blur);
            masks.push_back(std::move(mask));
        }
    return masks;
}

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
    return sum;
}

// The least squared misfit of the top's light to a * mask (an opening in the blanking: the
// blurred screen edge alone) ...
double EdgeAloneMisfit(const std::vector<double>& top, const std::vector<std::vector<double>>& masks) {
    double best = INFINITY;
    const double tt = Dot(top, top);
    for (const auto& mask : masks) {
        const double mm = Dot(mask, mask), tm = Dot(top, mask);
        if (mm > 0) best = std::min(best, tt - tm * tm / mm);
    }
    return best;
}

// ... and to mask * (a - b * end), end the end's light moved up by the band's length (an
// opening on the screen); b, the top's light over the end's, may differ from 1 by what
// vignetting and the slow light still falling short near the end make of it.
double GlowMisfit(const std::vector<double>& top, const std::vector<double>& end, const std::vector<std::vector<double>>& masks) {
    double best = INFINITY;
    const double tt = Dot(top, top);
    std::vector<double> shaped(top.size());
    for (const auto& mask : masks) {
        for (std::size_t j = 0; j < top.size(); ++j) shaped[j] = mask[j] * end[j];
        const double mm = Dot(mask, mask), ms = Dot(mask, shaped), ss = Dot(shaped, shaped);
        const double tm = Dot(top, mask), ts = Dot(top, shaped), det = mm * ss - ms * ms;
        if (!(det > 0)) continue;
        const double a = (ss * tm - ms * ts) / det, b = -(mm * ts - ms * tm) / det;
        if (b < kLeastGlowScale || b > kMostGlowScale) continue;
        best = std::min(best, tt - a * tm + b * ts);
    }
    return best;
}

// Where the shutter opened, for a band that reaches the screen's top: a line scanned d
// before the opening keeps the light that a line scanned d before the closing loses, so
// the end's light, turned over and moved up by the band's length, is the light at the
// start, blurred alike; at the top the screen's own blurred edge cuts it. An opening in
// the blanking leaves the top lit evenly but for that edge. The start's crossing (as the
// end's is taken) where the glow before an opening on the screen fits the top clearly
// better than the edge alone; nullopt where the two fit alike (an opening in the blanking,
// or on the first lines, whose glow the edge's blur hides).
std::optional<double> StartFromEnd(const std::vector<float>& v, double black, double end) {
    const int samples = static_cast<int>(kTopWindow * kSamplesPerLine);
    const double extent = static_cast<double>(v.size()) / kSamplesPerLine;
    if (end < kShortestTemplate || end + kTopWindow + 1 > extent) return std::nullopt;
    std::vector<double> top(samples);
    for (int j = 0; j < samples; ++j) top[j] = v[j] - black;
    const auto masks = TopEdgeMasks(samples);
    const double alone = EdgeAloneMisfit(top, masks);
    auto misfitAt = [&](double start) {
        std::vector<double> moved(samples);
        for (int j = 0; j < samples; ++j) moved[j] = InterpolateAt(v, U(j) + end - start) - black;
        return GlowMisfit(top, moved, masks);
    };
    double best = INFINITY, at = 0;
    for (double start = kEarliestGlowStart; start <= kLatestGlowStart; start += kCoarseStartStep)
        if (const double m = misfitAt(start); m < best) best = m, at = start;
    const double coarse = at;
    for (double start = coarse - kCoarseStartStep; start <= coarse + kCoarseStartStep + 1e-9; start += kFineStartStep)
        if (const double m = misfitAt(start); m < best) best = m, at = start;
    // Where the edge alone leaves less than the least glow that shows, nothing tells them apart.
    const double level = *std::max_element(top.begin(), top.end());
    const double unseen = samples * std::pow(kLeastSeenGlow * level, 2);
    // A crossing within the reach of the screen's edge is glow that its blur may stand for.
    if (!(alone > kFitsClearlyBetter * best + unseen) || at <= kTopEdgeSlack) return std::nullopt;
    return at;
}

// The screen's last lines tell an edge near them from one in the blanking. A window that
// opened on the screen lit the lines after its start fully; one that opened in the
// blanking left the last lines only the glow of their scan before it, short of the band's
// level. A window that closed on the screen left the lines after its end unlit, however
// slowly the phosphor dims the lines before it; one that closed in the blanking lit every
// line to the last, their pass cut short only by the phosphor. The glow rises only near
// the last lines: a rise far above them is an opening, however faint the band and however
// vignetting dims the last lines against the band's level taken elsewhere.
// Where v first falls below the level from line coordinate u down, to a fraction.
std::optional<double> FirstBelow(const std::vector<float>& v, double u, double level) {
    for (int i = std::max(1, static_cast<int>(u * kSamplesPerLine)); i < static_cast<int>(v.size()); ++i)
        if (v[i] < level && v[i - 1] >= level) return U(i - 1 + (v[i - 1] - level) / (v[i - 1] - v[i]));
    return std::nullopt;
}

void SettleBlankingEdges(const std::vector<float>& v, double black, GroupBand& g, const Levels& l) {
    std::optional<double>&start = g.start, &end = g.end;
    const double extent = static_cast<double>(v.size()) / kSamplesPerLine;
    if (std::isnan(l.bottom) || std::isnan(l.in)) return;
    const double rest = std::isnan(l.out) ? 0 : l.out, band = l.in - rest;
    if (band <= 0) return;
    const bool wrapped = start && end && *end < *start;
    // A rise near the screen's top is its own edge (the shutter opened in the blanking, or
    // so early in the refresh that the blur hides it) unless the end's light shows the glow
    // before an opening there. A fall within the blur of the bottom is the screen's edge:
    // the shutter closed from those lines on.
    if (!wrapped && end && (!start || *start < kNearTop)) {
        if (const auto placed = StartFromEnd(v, black, *end)) start = placed;
        else if (start) g.startTo = start, start.reset();
    } else if (start && *start < kNearTop) {
        g.startTo = start, start.reset();
    }
    if (end && *end > extent - kNearTop) g.endFrom = end, end.reset();
    // Where many passes make the band faint, vignetting alone may dim the last lines by
    // more than the band's step: there only a rise among the very last lines is doubted.
    const double reach = band > kClearStep * rest ? kGlowReach : kNearBottom;
    if (wrapped && start && *start > extent - reach && l.bottom - rest < kFullShare * band) {
        g.startFrom = start;
        start.reset();
    } else if (end && !wrapped && *end > extent - kDecayReach) {
        // Below such an end lie only the last lines, which a pass cut short in the blanking
        // dims down to the screen's edge: where the band stands clear of the rest, the rest's
        // level is the one above the start, beyond the glow of the pass before the opening.
        double unlit = rest;
        const double top = kScreenEdge / double(kSamplesPerLine);
        if (start && *start - top > 2 * kFarAboveStart && band > kClearStep * rest)
            if (const double far = MeanOver(v, black, top, top + (*start - top) / 2); !std::isnan(far)) unlit = std::min(rest, far);
        const int last = static_cast<int>(v.size()) - kScreenEdge;
        bool dark = false;  // the light falls to the rest's level before the last lines
        for (int j = static_cast<int>(*end * kSamplesPerLine); j < last && !dark; ++j)
            dark = v[j] - black - unlit < kDarkShare * (l.in - unlit);
        if (!dark) g.endFrom = end, end.reset();
        // The edge's windows, cut short by the screen's edge below it, find the fall where
        // the decay before the close has begun: its middle lies half way to the unlit
        // rest, further down.
        else if (const auto middle = FirstBelow(v, *end, black + (l.in + unlit) / 2)) end = std::max(*end, *middle);
    }
}

// A group's light down the screen: its samples, and the few beyond the first and last
// (empty where not sampled).
struct GroupLight {
    std::vector<float> v, above, below;
};

// Where a part of the band that reaches the screen's top (or bottom) meets the dark
// beyond it: there every line is lit alike, so its blurred light crosses half of the
// part's at the screen's own edge. Nullopt where the part is too thin to show its level,
// or the crossing is not among the samples.
std::optional<double> ScreenEdgeAt(const GroupLight& light, double black, double partEdge, bool top) {
    const std::vector<float>& v = light.v;
    const int n = static_cast<int>(v.size());
    const double extent = static_cast<double>(n) / kSamplesPerLine;
    const double part = top ? partEdge : extent - partEdge;  // lines the part spans
    if (part < kThinnestEdgePart) return std::nullopt;
    // The part's level: its brightest, clear of the part's own edge and its slow fall.
    const int reach = static_cast<int>(std::min(kEdgeLevelReach, part / 2) * kSamplesPerLine);
    double level = 0;
    for (int i = 0; i + 2 < reach; ++i) {
        const int j = top ? i : n - 3 - i;
        level = std::max(level, (v[j] + v[j + 1] + v[j + 2]) / 3.0 - black);
    }
    // From the dark beyond the screen inwards: samples numbered from the outermost.
    const std::vector<float>& outside = top ? light.above : light.below;
    const int beyond = static_cast<int>(outside.size());
    auto at = [&](int k) { return k < beyond ? outside[top ? k : beyond - 1 - k] : v[top ? k - beyond : n - 1 - (k - beyond)]; };
    const double half = black + level / 2;
    for (int k = 1; k < beyond + reach; ++k) {
        const double a = at(k - 1), b = at(k);
        if (std::isnan(a) || std::isnan(b)) return std::nullopt;
        if ((a < half) == (b < half)) continue;
        const double inward = k - 1 + (half - a) / (b - a) - beyond;  // samples inside the screen's first (last)
        return top ? U(inward) : extent - U(inward);
    }
    return std::nullopt;
}

// The band's level over the rest's, both taken next to one edge: vignetting, which dims
// the screen's corners by tens of percent, would move a ratio of levels taken far apart by
// more than one pass in forty. Near the edge it changes the light almost linearly: each
// side's level is carried to the edge along one slope fitted to both. Beside the end, the
// band's last lines are left out (their pass's slow light was cut short); beside the
// start, the rest's lines nearest it (the pass before the opening glows on).
std::optional<double> RatioAcross(const std::vector<float>& v, double black, double edge, std::pair<double, double> in,
                                  std::pair<double, double> out) {
    if (in.second - in.first < kRatioRun / 2 || out.second - out.first < kShortestRatioRun) return std::nullopt;
    struct Window {
        double meanU = 0, meanV = 0;
        std::vector<std::pair<double, double>> samples;
    } windows[2];
    const std::pair<double, double> ranges[2] = {in, out};
    for (int k = 0; k < 2; ++k) {
        const int a = std::max(0, static_cast<int>(std::ceil(ranges[k].first * kSamplesPerLine - 0.5)));
        const int b = std::min(static_cast<int>(v.size()), static_cast<int>(std::ceil(ranges[k].second * kSamplesPerLine - 0.5)));
        for (int j = a; j < b; ++j) windows[k].samples.push_back({U(j), v[j] - black});
        if (windows[k].samples.empty()) return std::nullopt;
        for (const auto& [u, value] : windows[k].samples) windows[k].meanU += u, windows[k].meanV += value;
        windows[k].meanU /= windows[k].samples.size();
        windows[k].meanV /= windows[k].samples.size();
    }
    double suv = 0, suu = 0;
    for (const Window& w : windows)
        for (const auto& [u, value] : w.samples) suv += (u - w.meanU) * (value - w.meanV), suu += (u - w.meanU) * (u - w.meanU);
    const double slope = suu > 0 ? suv / suu : 0;
    const double levelIn = windows[0].meanV + slope * (edge - windows[0].meanU);
    const double levelOut = windows[1].meanV + slope * (edge - windows[1].meanU);
    if (!(levelIn > 0) || !(levelOut > 0)) return std::nullopt;
    return levelIn / levelOut;
}

std::optional<double> RatioNearEdge(const std::vector<float>& v, double black, std::optional<double> start,
                                    std::optional<double> end) {
    // Clear of the screen's own top and bottom, which the grid may place some lines off
    // far from the ruler.
    const double extent = static_cast<double>(v.size()) / kSamplesPerLine;
    const double top = kScreenEdge / double(kSamplesPerLine) + kNearTop, bottom = extent - top;
    const bool wrapped = start && end && *end < *start;
    if (end) {
        const double bandFrom = start && !wrapped ? *start + kBelowEnd : top;
        const double restTo = wrapped ? *start - kGlowClear : bottom;
        const double inTo = *end - kEdgeClear, outFrom = *end + kBelowEnd;
        if (auto r = RatioAcross(v, black, *end, {std::max(bandFrom, inTo - kRatioRun), inTo},
                                 {outFrom, std::min(restTo, outFrom + kRatioRun)}))
            return r;
    }
    if (start) {
        const double inFrom = *start + kBelowEnd, outTo = *start - kGlowClear;
        const double bandTo = end && !wrapped ? *end - kEdgeClear : bottom;
        const double restFrom = wrapped ? *end + kBelowEnd : top;
        return RatioAcross(v, black, *start, {inFrom, std::min(bandTo, inFrom + kRatioRun)},
                           {std::max(restFrom, outTo - kRatioRun), outTo});
    }
    return std::nullopt;
}

// Lines over which the light falls from 3/4 of the way between two levels to 1/4, about
// sample j; NaN where it does not within some tens of lines.
double FallWidth(const std::vector<float>& v, int j, double above, double below) {
    const double high = below + 0.75 * (above - below), low = below + 0.25 * (above - below);
    const int reach = kWidthReach * kSamplesPerLine, n = static_cast<int>(v.size());
    int from = j, to = j;
    while (from > std::max(0, j - reach) && v[from] < high) --from;
    while (to < std::min(n - 1, j + reach) && v[to] > low) ++to;
    if (v[from] < high || v[to] > low) return NAN;
    return static_cast<double>(to - from) / kSamplesPerLine;
}

// Whether the screen's first (or last) lines are nearer the band's level than the rest's.
bool ScreenEndLitAsTheBand(const std::vector<float>& v, double black, double band, double rest, bool first) {
    const double extent = static_cast<double>(v.size()) / kSamplesPerLine;
    const double edge = kScreenEdge / double(kSamplesPerLine);
    const double level = first ? MeanOver(v, black, edge, edge + kLastLines) : MeanOver(v, black, extent - edge - kLastLines, extent - edge);
    return band > rest && level - rest > (band - rest) / 2;
}

GroupBand BandOfGroup(const GroupLight& light, double black, double least) {
    const std::vector<float>& v = light.v;
    std::vector<double> sums(v.size() + 1, 0.0);
    double brightest = 0;
    for (std::size_t i = 0; i < v.size(); ++i) sums[i + 1] = sums[i] + (v[i] - black), brightest = std::max<double>(brightest, v[i] - black);
    // Edges stand out by their contrast and lie where the step is largest.
    double rise = 0, fall = 0;
    int riseAt = -1, fallAt = -1;
    Sides riseSides{}, fallSides{};
    auto search = [&](bool rises, int from, int to, double leastStep) {
        // In the dark, glow and noise make large contrasts of small steps: a step must also
        // be a share of the brightest light.
        const double smallest = leastStep * brightest;
        for (int j = std::max(0, from); j < std::min(static_cast<int>(v.size()), to); ++j) {
            const auto sides = SidesOf(sums, j, from, to);
            if (!sides || sides->above + sides->below <= 0) continue;
            const double step = sides->below - sides->above;
            const double contrast = step / (sides->below + sides->above);
            if (rises && contrast > leastStep && step > std::max(rise, smallest)) rise = step, riseAt = j, riseSides = *sides;
            if (!rises && contrast < -leastStep && step < std::min(fall, -smallest)) fall = step, fallAt = j, fallSides = *sides;
        }
    };
    const int samples = static_cast<int>(v.size());
    search(true, 0, samples, least);
    search(false, 0, samples, least);
    // Where the grid is off by a line or two, the screen's own top or bottom shows a step
    // larger than any faint band's; so does the bright rim that ringing (the JPEG's, the
    // lens's) leaves along them, either way. The band's edge is looked for beyond it, and
    // the screen's edge kept only where none stands out.
    const double extent = samples / double(kSamplesPerLine);
    const int rim = static_cast<int>(kNearTop * kSamplesPerLine);
    auto crossingOf = [&](int at, const Sides& sides) { return Crossing(v, at, black + (sides.above + sides.below) / 2); };
    auto beyondRim = [&](bool rises, double& step, int& at, Sides& sides) {
        if (at < 0) return;
        const double u = crossingOf(at, sides);
        if (u >= kNearTop && u <= extent - kNearTop) return;
        const auto screen = std::tuple(step, at, sides);
        const int from = u < kNearTop ? at + kGap + 1 + rim : 0, to = u < kNearTop ? samples : at - kGap - 1 - rim;
        step = 0, at = -1;
        search(rises, from, to, least);
        if (at < 0) std::tie(step, at, sides) = screen;
    };
    beyondRim(true, rise, riseAt, riseSides);
    beyondRim(false, fall, fallAt, fallSides);
    // A band that ends on the screen but whose last lines are lit as it is went on over the
    // blanking: its start lies below its end, with a step that many passes and the slow
    // light of the one before can make too faint or too gentle for the least step (and
    // the same of a start whose first lines are lit as the band).
    if (riseAt < 0 && fallAt >= 0 && ScreenEndLitAsTheBand(v, black, fallSides.above, fallSides.below, false))
        search(true, fallAt + kGap + 1, samples, std::min(least, kFaintStep));
    if (fallAt < 0 && riseAt >= 0 && ScreenEndLitAsTheBand(v, black, riseSides.below, riseSides.above, true))
        search(false, 0, riseAt - kGap, std::min(least, kFaintStep));
    // Both parts of a band over the blanking hold its passes, one more than the lines
    // between them: far from the ruler, where the grid may place the screen's own top or bottom
    // some lines off, the light that the bezel and wall throw on a dark screen's edge makes
    // a step of its own, a small share of the band's.
    // Each part's light is taken next to its edge, beyond its blur, where vignetting moves it
    // little against the lines on the edge's other side.
    if (riseAt >= 0 && fallAt >= 0 && fallAt < riseAt) {
        const double edge = kScreenEdge / double(kSamplesPerLine), end = U(fallAt), start = U(riseAt), middle = (end + start) / 2;
        const double top = MeanOver(v, black, std::max(edge, end - kPartReach), end - kBlurClear) -
                           MeanOver(v, black, end + kBlurClear, std::min(middle, end + kPartReach));
        const double bottom = MeanOver(v, black, start + kBlurClear, std::min(extent - edge, start + kPartReach)) -
                              MeanOver(v, black, std::max(middle, start - kPartReach), start - kBlurClear);
        if (top < kLeastPartStep * bottom) fallAt = -1;
        else if (bottom < kLeastPartStep * top) riseAt = -1;
    }
    GroupBand g;
    if (riseAt >= 0) g.start = Crossing(v, riseAt, black + (riseSides.above + riseSides.below) / 2);
    if (fallAt >= 0) g.end = Crossing(v, fallAt, black + (fallSides.above + fallSides.below) / 2);
    // Where the part between the two edges is thinner than the windows, the windows would
    // reach across it, and blur keeps its middle from its full level. Blur keeps the
    // part's area, though: its level is the area over its width, the width between the
    // edges found at the middle of the levels; a few rounds settle both.
    const bool thin = riseAt >= 0 && fallAt >= 0 && std::abs(riseAt - fallAt) < 2 * (kGap + kRun);
    if (thin) {
        const bool thinBand = riseAt < fallAt;
        const double outside = thinBand ? (riseSides.above + fallSides.below) / 2 : (riseSides.below + fallSides.above) / 2;
        const int from = std::max(0, std::min(riseAt, fallAt) - kGap - 2);
        const int to = std::min(static_cast<int>(v.size()) - 1, std::max(riseAt, fallAt) + kGap + 2);
        double area = 0;  // of the part's difference from the outside, in samples
        for (int i = from; i <= to; ++i) area += (v[i] - black) - outside;
        // The part's extreme sample, and the nearest crossings of a level on either side.
        int extreme = from;
        for (int i = from; i <= to; ++i)
            if (thinBand ? v[i] > v[extreme] : v[i] < v[extreme]) extreme = i;
        auto crossing = [&](double level, int step) -> std::optional<double> {
            for (int i = extreme; i + step >= from && i + step <= to; i += step) {
                const double a = v[i] - level, b = v[i + step] - level;
                if ((a < 0) != (b < 0)) return U(i + step * a / (a - b));
            }
            return std::nullopt;
        };
        for (int round = 0; round < 4; ++round) {
            const double width = std::max(0.5, std::abs(*g.end - *g.start) * kSamplesPerLine);
            const double inside = outside + area / width;
            const double level = black + (inside + outside) / 2;
            const auto above = crossing(level, -1), below = crossing(level, +1);
            if (!above || !below) break;
            if (thinBand) g.start = above, g.end = below, riseSides.below = fallSides.above = inside;
            else g.end = above, g.start = below, riseSides.above = fallSides.below = inside;
        }
    }
    // A part thinner than the windows has its level from its area, beside the rest's.
    if (thin) {
        g.ratio = std::min(riseSides.below / std::max(riseSides.above, 1e-9), fallSides.above / std::max(fallSides.below, 1e-9));
        return g;
    }
    if (fallAt >= 0) g.endWidth = FallWidth(v, fallAt, black + fallSides.above, black + fallSides.below);
    SettleBlankingEdges(v, black, g, LevelsOf(v, black, g.start, g.end));
    if (g.start && g.end && *g.end < *g.start) {
        g.screenTop = ScreenEdgeAt(light, black, *g.end, true);
        g.screenBottom = ScreenEdgeAt(light, black, *g.start, false);
    }
    const Levels l = LevelsOf(v, black, g.start, g.end);
    g.ratio = std::isnan(l.in) || std::isnan(l.out) ? INFINITY : l.in / std::max(l.out, 1e-9);
    if (const auto near = RatioNearEdge(v, black, g.start, g.end)) g.ratio = *near;
    // Clipped white holds the band's level down towards the rest's.
    g.clipped = *std::max_element(v.begin(), v.end()) >= kClippedWhite;
    return g;
}

// The lit lines of a band over the blanking, from its start to the screen's bottom and from
// the top to its end. Where the group shows the screen's own top and bottom, the grid's
// lines are mapped onto the screen's between them: the lens's distortion, which no grid
// follows, bends them there by up to some lines, by less than a line between.
double WrappedLength(const GroupBand& g, double extent) {
    const double gap = *g.start - *g.end;  // lines of the rest between the two parts
    if (!g.screenTop || !g.screenBottom) return extent - gap;
    const double shown = *g.screenBottom - *g.screenTop;
    if (std::abs(shown - extent) > kMostScreenStretch * extent) return extent - gap;
    return extent - gap * extent / shown;
}

// Least-squares line through (x, y), refitted without points beyond three spreads.
std::pair<double, double> FitLine(const std::vector<double>& x, const std::vector<double>& y, double centre) {
    std::vector<bool> use(x.size(), true);
    double a = 0, b = 0;
    for (int round = 0; round < 2; ++round) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!use[i]) continue;
            const double dx = x[i] - centre;
            n += 1, sx += dx, sy += y[i], sxx += dx * dx, sxy += dx * y[i];
        }
        const double d = n * sxx - sx * sx;
        b = d > 1e-9 ? (n * sxy - sx * sy) / d : 0;
        a = (sy - b * sx) / n;
        std::vector<double> residuals;
        for (std::size_t i = 0; i < x.size(); ++i) residuals.push_back(std::abs(y[i] - a - b * (x[i] - centre)));
        const double spread = RobustSpread(residuals) + 0.05;
        for (std::size_t i = 0; i < x.size(); ++i) use[i] = residuals[i] <= 3 * spread;
    }
    return {a, b};
}

// The share of the white samples in those line ranges (clear of the band's edges) that
// reached the photo's full scale.
double ClippedShare(const WhiteProfile& profile, std::initializer_list<std::pair<double, double>> ranges) {
    int clipped = 0, known = 0;
    for (int j = 0; j < profile.values.rows; ++j) {
        const double u = profile.firstU + U(j);
        if (std::none_of(ranges.begin(), ranges.end(), [&](auto r) { return u > r.first + kBelowEnd && u < r.second - kBelowEnd; }))
            continue;
        for (int g = 0; g < profile.values.cols; ++g) {
            const float v = profile.values(j, g);
            if (!std::isnan(v)) ++known, clipped += v >= kClippedWhite;
        }
    }
    return known ? static_cast<double>(clipped) / known : 1;
}

// The band as groups of columns show it with edges of at least `least` contrast; `agreement`
// is the share of the groups that show its shape.
std::optional<Band> BandAtStep(const WhiteProfile& profile, double least, double& agreement) {
    const int groups = profile.values.cols;
    const double extent = static_cast<double>(profile.values.rows) / kSamplesPerLine;
    // A group that leaves the photo (a cropped photo, a screen's corner) would show an edge
    // where it leaves: only the groups the photo holds over the most lines are read.
    std::vector<int> missing(groups, 0);
    for (int g = 0; g < groups; ++g)
        for (int j = 0; j < profile.values.rows; ++j) missing[g] += std::isnan(profile.values(j, g)) ? 1 : 0;
    const int fewest = *std::min_element(missing.begin(), missing.end());
    std::vector<GroupBand> found;
    std::vector<double> darkest;
    int edgeless = 0;  // groups that show no edge but the screen's own
    for (int g = 0; g < groups; ++g) {
        if (missing[g] > fewest + kMissingSamples) continue;
        GroupLight light;
        std::vector<float>& v = light.v;
        v.resize(profile.values.rows);
        float last = static_cast<float>(profile.black);
        for (int j = 0; j < profile.values.rows; ++j) {
            if (!std::isnan(profile.values(j, g))) last = profile.values(j, g);
            v[j] = last;
        }
        for (int j = 0; j < profile.above.rows; ++j) light.above.push_back(profile.above(j, g));
        for (int j = 0; j < profile.below.rows; ++j) light.below.push_back(profile.below(j, g));
        GroupBand band = BandOfGroup(light, profile.black, least);
        band.x = profile.groupColumns[g];
        if (band.start || band.end) found.push_back(band), darkest.push_back(DarkestShare(v, profile.black));
        else ++edgeless;
    }
    if (found.empty()) return std::nullopt;
    // The most common shape wins: which edges lie on the screen, and in what order.
    std::map<int, int> shapes;
    auto shapeOf = [](const GroupBand& g) { return (g.start ? 1 : 0) + (g.end ? 2 : 0) + (g.start && g.end && *g.end < *g.start ? 4 : 0); };
    for (const GroupBand& g : found) ++shapes[shapeOf(g)];
    const auto winner = std::max_element(shapes.begin(), shapes.end(), [](auto& a, auto& b) { return a.second < b.second; });
    const int shape = winner->first;
    if (edgeless > winner->second) return std::nullopt;
    agreement = static_cast<double>(winner->second) / (found.size() + edgeless);
    Band band;
    band.startAtTop = !(shape & 1), band.endAtBottom = !(shape & 2), band.wraps = shape & 4;
    if (band.startAtTop && band.endAtBottom) return std::nullopt;  // most groups show only the screen's own edges
    for (const GroupBand& g : found) {
        auto absolute = [&](std::optional<double> u) { return u ? std::optional<double>(*u + profile.firstU) : std::nullopt; };
        band.groups.push_back({g.x, absolute(g.start), absolute(g.end)});
    }
    std::vector<double> xs, starts, ends, lengths, ratios, startsFrom, endsFrom, startsTo, widths;
    int clipped = 0;
    for (const GroupBand& g : found) {
        if (shapeOf(g) != shape) continue;
        startsTo.push_back(g.startTo.value_or(0));
        startsFrom.push_back(g.startFrom.value_or(extent));
        endsFrom.push_back(g.endFrom.value_or(extent));
        xs.push_back(g.x);
        starts.push_back(g.start.value_or(0));
        ends.push_back(g.end.value_or(extent));
        lengths.push_back(band.wraps ? WrappedLength(g, extent) : ends.back() - starts.back());
        ratios.push_back(g.ratio);
        clipped += g.clipped;
        if (!std::isnan(g.endWidth)) widths.push_back(g.endWidth);
    }
    // Lines lit m + 1 times over lines lit m times.
    const double ratio = Median(ratios);
    band.ratio = ratio;
    band.endWidth = widths.empty() ? 0 : Median(widths);
    band.clipped = clipped > 0;
    band.passes = ratio > 8 ? 0 : std::max(0, static_cast<int>(std::lround(1 / (ratio - 1))));
    // Lines left dark show that nothing lit the rest: the levels beside a steeply slanted
    // band's edges, smeared over a group's columns, can look like a pass's.
    if (Median(darkest) < kUnlitRest) band.passes = 0;
    const double middle = profile.width / 2.0;
    std::tie(band.start, band.startSlope) = FitLine(xs, starts, middle);
    std::tie(band.end, band.endSlope) = FitLine(xs, ends, middle);
    if (band.startAtTop) band.start = 0, band.startSlope = 0;
    if (band.endAtBottom) band.end = extent, band.endSlope = 0;
    band.startFrom = *std::min_element(startsFrom.begin(), startsFrom.end()) + profile.firstU;
    band.endFrom = *std::min_element(endsFrom.begin(), endsFrom.end()) + profile.firstU;
    band.startTo = *std::max_element(startsTo.begin(), startsTo.end()) + profile.firstU;
    band.start += profile.firstU, band.end += profile.firstU;
    // The groups agree on the length but where an edge crosses a group on a slant, or a
    // group's edge lies in the screen's blurred border: those stray, and are left out.
    const double middleLength = Median(lengths);
    std::vector<double> residuals;
    for (double l : lengths) residuals.push_back(l - middleLength);
    const double limit = 3 * RobustSpread(residuals) + kLengthSlack;
    double mean = 0, square = 0;
    int kept = 0;
    for (double l : lengths)
        if (std::abs(l - middleLength) <= limit) mean += l, square += l * l, ++kept;
    mean /= kept;
    band.length = mean;
    band.lengthSpread = kept > 1 ? std::sqrt(std::max(0.0, square / kept - mean * mean) / (kept - 1)) : 1;

    const double top = profile.firstU, bottom = profile.firstU + extent;
    band.top = top, band.bottom = bottom;
    if (band.wraps) {
        band.atStart = {band.start, bottom};
        band.atEnd = {top, band.end};
        band.beforeStart = band.afterEnd = {band.end, band.start};
    } else {
        band.atStart = band.atEnd = {band.start, band.end};
        band.beforeStart = {top, band.start};
        band.afterEnd = {band.end, bottom};
    }
    // Beside the band, any but the odd sample that noise lifts; on its lines, most.
    band.restClipped = ClippedShare(profile, {band.beforeStart, band.afterEnd}) > kNoisyShare;
    band.clippedOnItsLines =
        band.passes > 0 && !band.restClipped && ClippedShare(profile, {band.atStart, band.atEnd}) > kMostlyClipped;
    return band;
}

}  // namespace

std::optional<Band> FindBand(const WhiteProfile& profile, bool faint) {
    double agreement = 0;
    if (faint) return BandAtStep(profile, kFaintStep, agreement);
    auto band = BandAtStep(profile, kStep, agreement);
    // An edge whose step is barely above the least one stands out in some groups and not
    // in others, noise deciding: such a band is looked for again with fainter edges.
    if (band && agreement < kAgreement && band->ratio < kNearlyFaint) {
        double again = 0;
        auto faintBand = BandAtStep(profile, kFaintStep, again);
        if (faintBand && again > agreement) return faintBand;
    }
    return band;
}

}  // namespace velmaro::photo
