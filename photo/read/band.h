// The lit band of a CRT: where the lines lit once more than the rest begin and end on
// the screen. Lines lit in m + 1 refreshes are brighter than those lit in m; m is 0
// when the exposure was shorter than a refresh and the rest of the screen is dark.
// Edges are followed across the screen in groups of white columns: the beam reaches
// each column a little later, which resolves the edges to a fraction of a line, and a
// focal-plane shutter slants them.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

namespace velmaro::photo {

constexpr int kSamplesPerLine = 4;

// Brightness down the screen: one row per sample (u = firstU + (row + 0.5) / 4), one column per
// group of always-white screen columns, whose middles are given.
// Linear light (1: the photo's full scale) at and above which clipping may have held
// white down.
constexpr double kClippedWhite = 0.97;

// Lines sampled beyond the first and the last of the profile's own, where the screen's top
// and bottom may lie: the grid of a thin part, far from the ruler, may place them some
// lines off.
constexpr int kBeyondLines = 4;

struct WhiteProfile {
    cv::Mat1f values;
    cv::Mat1f above, below;  // kBeyondLines of samples before the first row and after the last; may be empty
    std::vector<double> groupColumns;
    double black = 0;   // level of the screen where nothing was lit
    int width = 0;      // the screen's
    double firstU = 0;  // line coordinate where the samples begin: the screen's top, 0, when numbered
};

// The edges that one group of columns shows, in line coordinates: where the extra pass
// began and where it ended; nullopt where that edge is not on the screen there.
struct GroupEdges {
    double column = 0;
    std::optional<double> start, end;
};

struct Band {
    int passes = 0;          // m: refreshes that lit the lines outside the band, as the levels say
    double ratio = INFINITY; // the band's level over the rest's: (m + 1) / m
    bool clipped = false;    // white clipped: the ratio is only the least it may be
    bool restClipped = true; // ... beside the band too, not only on its lines
    bool clippedOnItsLines = false;  // most of the band's white clipped, none beside it, where passes lit it
    // Read from the ruler's stripes, the white being clipped everywhere: the true bars' shares
    // lie between these factors times those measured (1 and 1 where the white was measured).
    double leastShareScale = 1, mostShareScale = 1;
    // Lines over which each sample of the profile the band was found in is a mean (the
    // stripes' two), which blurs its edges by as much: 0 for the white's own.
    double averagedLines = 0;
    bool wraps = false;      // from the bottom of the screen over the blanking to the top
    bool startAtTop = false; // the band begins at line 1: the shutter opened in the blanking (or on line 1)
    bool endAtBottom = false;
    // Where an edge is off the screen, the earliest line coordinate that the shutter may
    // have opened at (in the refresh before) or closed at: the screen's bottom, or the
    // last lit line where the light near it leaves open whether it was the edge.
    double startFrom = 0, endFrom = 0;
    double startTo = 0;  // ... and the latest, into this refresh, where a rise at the top may have been the start
    // Line coordinates at the screen's middle column where the extra pass began and ended
    // (the edge between two lines); with slope per column.
    double start = 0, end = 0, startSlope = 0, endSlope = 0;
    double length = 0;       // lines between the edges, the blanking included where the band wraps
    double lengthSpread = 0; // standard error of the length over the column groups
    double endWidth = 0;     // lines over which the end's light falls from 3/4 to 1/4: the phosphor's decay and blur
    // Line coordinate ranges at the screen's middle, for reading the bars: the band's
    // part where the extra pass began and where it ended (the same part unless the band
    // wraps), and the rest of the screen just above the start and just below the end
    // (empty ranges where the band touches the screen's top or bottom).
    std::pair<double, double> atStart, atEnd, beforeStart, afterEnd;
    double top = 0, bottom = 0;  // line coordinates where the profile begins and ends: the screen's, when numbered
    // Every group's edges, whatever the band's shape there: a steep slant may show the band
    // whole in some columns and wrapped over the blanking in others.
    std::vector<GroupEdges> groups;
};

// Nullopt when no band stands out (an LCD, or no step in brightness).
// Faint: the edges of lines lit once more than many passes, a per cent or so brighter.
std::optional<Band> FindBand(const WhiteProfile& profile, bool faint = false);

}  // namespace velmaro::photo
