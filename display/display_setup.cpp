// Display set-up: takes the whole display for the main window in an 8-bit mode of the
// requested size and builds everything the frames are made from. Each step runs only
// when the one before it worked; every failure takes the one path at the end, which
// gives back what was made, says what failed, and closes the window.
#include <cstdarg>
#include <cstdio>

#include "animation/presentation.h"
#include "app/command_line.h"
#include "app/program.h"
#include "display/display.h"

namespace {

constexpr char kNoDirectDraw[] = "Could not create DirectDraw! Make sure at least DirectX 7 is installed.";
constexpr char kNoDisplayMode[] = "Could not set the requested display mode! Try another resolution of refresh rate.";
constexpr char kNoSurface[] = "CreateSurface FAILED";

using DirectDrawCreateExFunction = HRESULT(WINAPI*)(GUID*, LPVOID*, REFIID, IUnknown*);

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// ddraw.dll is loaded here rather than imported, so that a system without it still
// starts the program and hears why it cannot run. The library stays loaded for the
// life of the process.
HRESULT CreateDirectDraw() {
    HMODULE library = LoadLibraryA("ddraw.dll");
    if (library == nullptr) return LastErrorResult();
    FARPROC entry = GetProcAddress(library, "DirectDrawCreateEx");
    if (entry == nullptr) return LastErrorResult();
    auto create = reinterpret_cast<DirectDrawCreateExFunction>(reinterpret_cast<void (*)()>(entry));
    return create(nullptr, reinterpret_cast<LPVOID*>(&g_directDraw), IID_IDirectDraw7, nullptr);
}

}  // namespace

// 8 bits per pixel, one palette index each; a rate of 0 leaves it to the driver.
HRESULT SetProgramDisplayMode() {
    return g_directDraw->SetDisplayMode(static_cast<DWORD>(g_screenWidth), static_cast<DWORD>(g_screenHeight), 8,
                                        static_cast<DWORD>(g_refreshRate), 0);
}

int SetUpDisplay(HWND window) {
    // One record serves the three surfaces; each step changes only what it needs.
    DDSURFACEDESC2 desc{};
    DDSCAPS2 caps{};
    const char* failure;
    HRESULT result;

    // DirectDraw of the default display driver
    failure = kNoDirectDraw;
    if ((result = CreateDirectDraw()) != DD_OK) goto fail;

    // the whole display for this window
    failure = "SetCooperativeLevel FAILED";
    if ((result = g_directDraw->SetCooperativeLevel(window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN)) != DD_OK) goto fail;

    // the requested size and rate, 8 bits per pixel
    failure = kNoDisplayMode;
    if ((result = SetProgramDisplayMode()) != DD_OK) goto fail;

    // primary surface with one back buffer to flip with
    failure = kNoSurface;
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.dwBackBufferCount = 1;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    if ((result = g_directDraw->CreateSurface(&desc, &g_primarySurface, nullptr)) != DD_OK) goto fail;

    failure = "GetAttachedSurface FAILED";
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    if ((result = g_primarySurface->GetAttachedSurface(&caps, &g_backBuffer)) != DD_OK) goto fail;

    // work surface of the screen's size, on which each frame is composed
    failure = kNoSurface;
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    desc.dwWidth = static_cast<DWORD>(g_screenWidth);
    desc.dwHeight = static_cast<DWORD>(g_screenHeight);
    if ((result = g_directDraw->CreateSurface(&desc, &g_workSurface, nullptr)) != DD_OK) goto fail;

    // pattern surface for the ruler, always its full size
    desc.dwWidth = kPatternWidth;
    desc.dwHeight = kPatternHeight;
    if ((result = g_directDraw->CreateSurface(&desc, &g_patternSurface, nullptr)) != DD_OK) goto fail;

    // the ruler's colours on the screen; without a palette the program still runs
    g_palette = LoadPaletteFromBitmap(g_directDraw, g_patternName);
    if (g_palette != nullptr) g_primarySurface->SetPalette(g_palette);

    // the ruler onto its surface
    result = 0;
    failure = "InitSurfaces FAILED";
    if (!LoadPatternImage()) goto fail;

    // frames from now on
    failure = "SetTimer FAILED";
    if (SetTimer(window, kFrameTimerId, kFrameTimerInterval, nullptr) != kFrameTimerId) goto fail;
    return 0;

fail:
    return ReportInitFailure(window, result, failure);
}

HRESULT ReportInitFailure(HWND window, HRESULT code, const char* message, ...) {
    char text[128];
    va_list values;
    va_start(values, message);
    std::vsnprintf(text, sizeof text, message, values);  // cuts a longer text short
    va_end(values);

    // The display is given back before the box is shown, so the box can be seen.
    ReleaseDisplayObjects();
    MessageBoxA(window, text, kProgramTitle, MB_OK | MB_ICONERROR);
    DestroyWindow(window);  // its WM_DESTROY posts the quit message
    return code;
}
