// A slit's travel, from the band's edges. A focal-plane shutter's slit, or a rolling
// readout, opens and closes each point of the photo later the further it lies along one
// of the photo's axes: the opening at a + b p and the closing at a' + b' p (p the place
// along the axis). Where that axis runs along the screen's lines, the band slants, and each
// group of columns shows both edges: the scan time of an edge is the opening or closing
// time at its place in the photo. Fitting both lines gives the exposure at every place
// (T at the middle of the travel, tapering where the curtains differ), and each
// curtain's time across the photo. The photo's own geometry is used, not the screen's:
// a slit that runs a little along the scan (the camera turned by a few degrees) stretches
// or squashes the band, and only the photo's axis tells by how much.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

#include "photo/read/band.h"
#include "photo/read/view.h"

namespace velmaro::photo {

struct SlitTravel {
    bool alongPhotoX = true;     // the axis the slit travels along
    double length = 0;           // photo pixels along that axis: the whole photo
    // Scan times in line periods (a refresh's line 1 begins at 0) of the opening and the
    // closing at the place p along the axis: intercept + slope p.
    double openAt = 0, openSlope = 0, closeAt = 0, closeSlope = 0;
    double openError = 0, closeError = 0;  // standard errors of the two lines at the middle, lines
    int points = 0;                        // edges fitted
    double spread = 0;  // lines: how far the edges kept stray from their lines
    double kept = 1;    // share of the edges that follow the lines, of the kind that follows them least
    // Lines at the travel's middle by which the exposures that groups show between their own
    // edges (where groups clear of the screen's ends show both), carried along their trend,
    // lie from the lines' exposure.
    double pairsOff = 0;

    double Exposure(double p) const { return closeAt - openAt + (closeSlope - openSlope) * p; }
    // Where the travel starts: the end of the axis that opens first.
    double StartPlace() const { return openSlope >= 0 ? 0 : length; }
    double EndPlace() const { return openSlope >= 0 ? length : 0; }
};

// Lines down a column that a slanted band's edges drift by, from each group of columns to
// its neighbour (modulo a refresh, for an edge that wraps between them); 0 where no
// neighbours show the same edge.
double LinesPerColumn(const Band& band, double vtotal);

// The slit's travel along the photo axis nearer to the screen's lines; the exposure's
// whole refreshes (`passes`) and the vertical total place the closing after the opening.
// Nullopt when too few groups show both edges.
std::optional<SlitTravel> FitSlit(const Band& band, const ScreenView& view, cv::Size photo, int width, double vtotal,
                                  int passes);

}  // namespace velmaro::photo
