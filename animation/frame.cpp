// Frame composition. The work surface is never cleared: phase 0 paints the white
// background and the ruler, and phases 1 to 4 each add one black bar on either side,
// on top of what the frames before them left.
#include "animation/presentation.h"
#include "app/command_line.h"
#include "display/display.h"

int g_markerPhase = 0;

namespace {

constexpr int kPhases = 5;
constexpr int kTileWidth = 8;
constexpr LONG kTileLeft = 5;     // columns 5..12 of the ruler are white
constexpr LONG kMarkerWidth = 5;  // columns 0..4 are black
constexpr int kMarkerSpacing = 10;
constexpr int kRightEdgeStrip = 325;

// Copies columns of the pattern onto the work surface at column x, clipped to the
// surface: on a screen narrower than the bars reach, nothing is written outside it.
HRESULT BlitOntoWork(int x, RECT source) {
    if (x < 0) {
        source.left -= x;
        x = 0;
    }
    if (source.right - source.left > g_screenWidth - x) source.right = source.left + (g_screenWidth - x);
    if (source.right <= source.left) return DD_OK;
    return g_workSurface->BltFast(static_cast<DWORD>(x), 0, g_patternSurface, &source, DDBLTFAST_NOCOLORKEY);
}

void DrawBackground(LONG height) {
    // Whole tiles only; the blits' results do not matter here.
    const RECT tile{kTileLeft, 0, kTileLeft + kTileWidth, height};
    for (int i = 0; i < g_screenWidth / kTileWidth; ++i) BlitOntoWork(kTileWidth * i, tile);
}

}  // namespace

HRESULT ComposeFrame() {
    const int phase = g_markerPhase;
    const LONG height = g_screenHeight;
    const int rulerLeft = (g_screenWidth - kPatternWidth) / 2;

    if (phase == 0) {
        DrawBackground(height);
        const RECT ruler{0, 0, kPatternWidth, height};
        RetrySurfaceCall([&] { return BlitOntoWork(rulerLeft, ruler); });
    }
    const RECT marker{0, 0, kMarkerWidth, height};
    BlitOntoWork(rulerLeft - kMarkerSpacing * phase, marker);
    BlitOntoWork(rulerLeft + kRightEdgeStrip + kMarkerSpacing * phase, marker);

    // Advanced before the copy, so the cycle goes on even when frames are lost.
    g_markerPhase = phase + 1 == kPhases ? 0 : phase + 1;

    RECT whole{0, 0, g_screenWidth, height};
    return RetrySurfaceCall([&] { return g_backBuffer->BltFast(0, 0, g_workSurface, &whole, DDBLTFAST_NOCOLORKEY); });
}
