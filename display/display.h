// The display objects that the program makes once and gives back once, and the
// operations of the display subsystem.
#pragma once

#include <windows.h>
#include <ddraw.h>

// DirectDraw refuses a record whose dwSize is not the size that its own build of the
// structure has: 124 bytes in a 32-bit program, 136 in a 64-bit one (pointer fields).
static_assert(sizeof(DDSURFACEDESC2) == (sizeof(void*) == 4 ? 124 : 136), "DDSURFACEDESC2 as DirectDraw expects it");

// The ruler bitmap, and the surface that holds it, whatever the mode's size.
constexpr int kPatternWidth = 330;
constexpr int kPatternHeight = 768;

extern IDirectDraw7* g_directDraw;
extern IDirectDrawSurface7* g_primarySurface;
extern IDirectDrawSurface7* g_backBuffer;  // ends with the primary surface's flip chain
extern IDirectDrawSurface7* g_workSurface;
extern IDirectDrawSurface7* g_patternSurface;
extern IDirectDrawPalette* g_palette;  // may stay null

// Name of the ruler bitmap, for its palette and its image.
extern char g_patternName[];

// A 256-entry palette from the colour table of the named bitmap (a resource of this
// program, else a file); entries the bitmap lacks are a 3-3-2 colour cube. Null when
// DirectDraw cannot make it.
IDirectDrawPalette* LoadPaletteFromBitmap(IDirectDraw7* directDraw, const char* name);

// Draws the bitmap's source rectangle (a width or height of 0 meaning the bitmap's
// own) over the whole surface through GDI.
HRESULT CopyBitmapToSurface(HBITMAP bitmap, IDirectDrawSurface7* surface, int x, int y, int width, int height);

// Loads the ruler bitmap and copies it onto the pattern surface: 1 when it could be
// loaded, 0 when not.
int LoadPatternImage();

// Puts the display into the mode the program runs in: the screen's width, height and
// refresh rate at 8 bits per pixel. DirectDraw's answer.
HRESULT SetProgramDisplayMode();

// The second half of start-up, once the main window is shown: DirectDraw, the
// exclusive 8-bit mode, the surfaces, the palette, the ruler image and the frame
// timer. 0 when the program can run; otherwise what ReportInitFailure returned.
int SetUpDisplay(HWND window);

// Gives the display back, shows the message (a printf-style format) in a box owned by
// the window, and destroys the window. Returns code.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
HRESULT
ReportInitFailure(HWND window, HRESULT code, const char* message, ...);

// Gives back every display object that exists, in a fixed order. Does nothing when
// there is no DirectDraw object, so it may be called any number of times.
void ReleaseDisplayObjects();
