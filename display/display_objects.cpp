// The display objects: null until made, and null again once given back.
#include "display/display.h"

IDirectDraw7* g_directDraw = nullptr;
IDirectDrawSurface7* g_primarySurface = nullptr;
IDirectDrawSurface7* g_backBuffer = nullptr;
IDirectDrawSurface7* g_workSurface = nullptr;
IDirectDrawSurface7* g_patternSurface = nullptr;
IDirectDrawPalette* g_palette = nullptr;
