// The display objects: null until made, and null again once given back.
#include "display/display.h"

IDirectDraw7* g_directDraw = nullptr;
IDirectDrawSurface7* g_primarySurface = nullptr;
IDirectDrawSurface7* g_backBuffer = nullptr;
IDirectDrawSurface7* g_workSurface = nullptr;
IDirectDrawSurface7* g_patternSurface = nullptr;
IDirectDrawPalette* g_palette = nullptr;

namespace {

template <typename Object>
void ReleaseAndClear(Object*& object) {
    if (object == nullptr) return;
    object->Release();
    object = nullptr;
}

}  // namespace

// The back buffer is not given back on its own: it ends with its primary surface.
void ReleaseDisplayObjects() {
    if (g_directDraw == nullptr) return;
    ReleaseAndClear(g_primarySurface);
    ReleaseAndClear(g_workSurface);
    ReleaseAndClear(g_patternSurface);
    ReleaseAndClear(g_palette);
    ReleaseAndClear(g_directDraw);
}
