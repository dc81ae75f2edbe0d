// Vertical totals. The DMT values are those of VESA's Display Monitor Timing standard
// (the same as the Linux kernel's EDID mode table); GTF is VESA's Generalized Timing
// Formula with its default secondary curve.
#include "photo/model/timing.h"

#include <cmath>
#include <stdexcept>

namespace velmaro::photo {

namespace {

struct DmtMode {
    int width, height, refresh, vtotal;
};

// VESA DMT, version 1.0 rev. 13: vertical totals of the 4:3 modes Velmaro can show.
constexpr DmtMode kDmt[] = {
    {640, 480, 60, 525},  {640, 480, 72, 520},  {640, 480, 75, 500},  {640, 480, 85, 509},
    {800, 600, 56, 625},  {800, 600, 60, 628},  {800, 600, 72, 666},  {800, 600, 75, 625},
    {800, 600, 85, 631},  {1024, 768, 60, 806}, {1024, 768, 70, 806}, {1024, 768, 75, 800},
    {1024, 768, 85, 808},
};

// GTF's vertical parameters.
constexpr double kMinVsyncAndBackPorch = 550e-6;  // seconds
constexpr int kMinFrontPorch = 1;                 // lines

}  // namespace

std::string Name(VtotalSource source) {
    switch (source) {
        case VtotalSource::kGiven: return "given";
        case VtotalSource::kHfreq: return "hfreq";
        case VtotalSource::kDmt: return "dmt";
        case VtotalSource::kGtf: return "gtf";
    }
    return "gtf";
}

std::string Description(VtotalSource source) {
    switch (source) {
        case VtotalSource::kGiven: return "given";
        case VtotalSource::kHfreq: return "from the line rate";
        case VtotalSource::kDmt: return "VESA DMT";
        case VtotalSource::kGtf: return "VESA GTF";
    }
    return "";
}

std::optional<int> DmtVtotal(int width, int height, double refreshHz) {
    for (const DmtMode& mode : kDmt)
        if (mode.width == width && mode.height == height && std::abs(mode.refresh - refreshHz) < 0.5) return mode.vtotal;
    return std::nullopt;
}

int GtfVtotal(int height, double refreshHz) {
    // Estimated line period: the refresh less the sync and back porch, over the visible
    // lines and the front porch.
    const double linePeriod = (1.0 / refreshHz - kMinVsyncAndBackPorch) / (height + kMinFrontPorch);
    return height + static_cast<int>(std::lround(kMinVsyncAndBackPorch / linePeriod)) + kMinFrontPorch;
}

Timing ResolveTiming(int width, int height, double refreshHz, std::optional<int> vtotal, std::optional<double> hfreqKhz) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("the mode must be at least 1 x 1");
    if (!(refreshHz > 0) || !std::isfinite(refreshHz)) throw std::invalid_argument("the refresh rate must be above 0 Hz");
    if (1.0 / refreshHz <= kMinVsyncAndBackPorch) throw std::invalid_argument("the refresh rate is too high for any display");
    Timing timing{width, height, refreshHz, 0, VtotalSource::kGtf};
    if (vtotal) {
        timing.vtotal = *vtotal;
        timing.source = VtotalSource::kGiven;
    } else if (hfreqKhz) {
        if (!(*hfreqKhz > 0) || !std::isfinite(*hfreqKhz)) throw std::invalid_argument("the line rate must be above 0 kHz");
        timing.vtotal = static_cast<int>(std::lround(*hfreqKhz * 1000.0 / refreshHz));
        timing.source = VtotalSource::kHfreq;
    } else if (auto dmt = DmtVtotal(width, height, refreshHz)) {
        timing.vtotal = *dmt;
        timing.source = VtotalSource::kDmt;
    } else {
        timing.vtotal = GtfVtotal(height, refreshHz);
    }
    if (timing.vtotal <= height)
        throw std::invalid_argument("the vertical total (" + std::to_string(timing.vtotal) +
                                    " lines) must exceed the visible lines (" + std::to_string(height) + ")");
    return timing;
}

}  // namespace velmaro::photo
