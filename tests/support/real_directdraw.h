// Real DirectDraw objects for tests: the default driver at the normal cooperative
// level, and 8-bit palettised off-screen surfaces read and written through Lock.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include <cstdint>
#include <vector>

IDirectDraw7* CreateRealDirectDraw();
// extraCaps may ask for a memory placement (DDSCAPS_SYSTEMMEMORY, DDSCAPS_VIDEOMEMORY).
IDirectDrawSurface7* CreatePlainSurface(IDirectDraw7* directDraw, int width, int height, DWORD extraCaps = 0);

// Palette indices row by row, top row first, width bytes a row.
std::vector<std::uint8_t> ReadSurface(IDirectDrawSurface7* surface);
void FillSurface(IDirectDrawSurface7* surface, std::uint8_t index);

// The ruler's pixel indices as built into this test program, top row first.
std::vector<std::uint8_t> RulerIndices();
