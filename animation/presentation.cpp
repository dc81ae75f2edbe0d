// Showing frames, and bringing lost surfaces back.
#include "animation/presentation.h"

#include "display/display.h"

namespace {

// A program that had the display meanwhile may have left it in another mode (the
// desktop's, when it ended), and the primary surface comes back only in its own.
HRESULT RestorePrimarySurface() {
    const HRESULT result = g_primarySurface->Restore();
    if (result != DDERR_WRONGMODE || SetProgramDisplayMode() != DD_OK) return result;
    return g_primarySurface->Restore();
}

}  // namespace

HRESULT RecoverLostSurfaces() {
    HRESULT result;
    if ((result = RestorePrimarySurface()) != DD_OK) return result;
    if ((result = g_workSurface->Restore()) != DD_OK) return result;
    if ((result = g_patternSurface->Restore()) != DD_OK) return result;
    // Restored memory holds nothing; the work surface gets its picture back with the
    // next frame of phase 0.
    LoadPatternImage();
    return DD_OK;
}

void PresentFrame() {
    // Only a foreign WM_TIMER could come while there is no display.
    if (g_primarySurface == nullptr) return;
    ComposeFrame();
    // Shown at the next vertical retrace; while the last flip is pending DirectDraw
    // says it is still drawing, and the call is issued again.
    RetrySurfaceCall([] { return g_primarySurface->Flip(nullptr, 0); });
}
