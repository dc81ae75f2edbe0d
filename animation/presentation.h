// Making and showing frames: one frame per tick of the frame timer, and the rule for
// DirectDraw's answers while frames are made.
#pragma once

#include <windows.h>
#include <ddraw.h>

constexpr UINT_PTR kFrameTimerId = 1;
constexpr UINT kFrameTimerInterval = 1;  // ms: as often as the system delivers ticks

// Restores the primary, work and pattern surfaces, in that order, and copies the
// ruler onto the pattern surface again. DD_OK, or the code of the first failed restore.
// A primary surface that is in the wrong mode gets the program's mode set again and
// one more restore.
HRESULT RecoverLostSurfaces();

// Issues a surface call until DirectDraw stops answering that it is still drawing.
// A lost surface is recovered instead of issuing the call again; its work is lost for
// this frame. Any other answer is the result.
template <typename Operation>
HRESULT RetrySurfaceCall(Operation operation) {
    for (;;) {
        const HRESULT result = operation();
        if (result == DDERR_WASSTILLDRAWING) continue;
        if (result == DDERR_SURFACELOST) return RecoverLostSurfaces();
        return result;
    }
}

// The next phase of the pattern, composed and flipped onto the screen.
void PresentFrame();

// Composes the next frame onto the work surface and copies it to the back buffer.
HRESULT ComposeFrame();

// Phase of the frame composed next, 0 to 4: the number of bars on each side.
extern int g_markerPhase;
