// A display mode's timing: how many lines a refresh takes, blanking included, and how
// long a line lasts. The vertical total comes from the user, from the VESA DMT table for
// the standard modes, or from the VESA GTF formula.
#pragma once

#include <optional>
#include <string>

namespace velmaro::photo {

enum class VtotalSource { kGiven, kHfreq, kDmt, kGtf };

std::string Name(VtotalSource source);  // "given", "hfreq", "dmt", "gtf"
std::string Description(VtotalSource source);  // for people: "VESA DMT", ...

struct Timing {
    int width = 0, height = 0;
    double refreshHz = 0;
    int vtotal = 0;  // lines per refresh, the vertical blanking included
    VtotalSource source = VtotalSource::kGtf;

    double FramePeriod() const { return 1.0 / refreshHz; }
    double LinePeriod() const { return FramePeriod() / vtotal; }
    int BlankingLines() const { return vtotal - height; }
};

// The vertical total from the VESA DMT table, when the mode is in it.
std::optional<int> DmtVtotal(int width, int height, double refreshHz);

// The vertical total by the VESA GTF formula (default secondary curve, no margins).
int GtfVtotal(int height, double refreshHz);

// Timing of a mode; a given vertical total wins over a given line rate (kHz), which wins
// over the tables. Throws std::invalid_argument for values that make no mode.
Timing ResolveTiming(int width, int height, double refreshHz, std::optional<int> vtotal = {},
                     std::optional<double> hfreqKhz = {});

}  // namespace velmaro::photo

namespace velmaro::photo {
// Share of a line period in which the beam crosses the visible columns: column x of a
// line is scanned x / width of this share after the line's start.
constexpr double kActiveLineShare = 0.8;
}  // namespace velmaro::photo
