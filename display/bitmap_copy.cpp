// Puts GDI bitmaps onto DirectDraw surfaces through the surface's device context,
// and the ruler image onto the pattern surface.
#include "display/display.h"

char g_patternName[] = "Pattern";

HRESULT CopyBitmapToSurface(HBITMAP bitmap, IDirectDrawSurface7* surface, int x, int y, int width, int height) {
    if (bitmap == nullptr || surface == nullptr) return E_FAIL;

    // A lost surface needs its memory back before it can be drawn on.
    surface->Restore();

    HDC memory = CreateCompatibleDC(nullptr);
    if (memory == nullptr)
        OutputDebugStringA("createcompatible dc failed\n");
    else
        SelectObject(memory, bitmap);

    BITMAP size{};
    GetObjectA(bitmap, sizeof size, &size);
    if (width == 0) width = size.bmWidth;
    if (height == 0) height = size.bmHeight;

    // Left at 0 x 0 (nothing drawn) should the surface not tell its size.
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_HEIGHT | DDSD_WIDTH;
    surface->GetSurfaceDesc(&desc);

    HDC target = nullptr;
    const HRESULT result = surface->GetDC(&target);
    if (result == DD_OK) {
        if (memory != nullptr)
            StretchBlt(target, 0, 0, static_cast<int>(desc.dwWidth), static_cast<int>(desc.dwHeight), memory, x, y,
                       width, height, SRCCOPY);
        surface->ReleaseDC(target);
    }
    if (memory != nullptr) DeleteDC(memory);
    return result;
}

int LoadPatternImage() {
    // As a DIB section the bitmap keeps its own 8-bit colour table.
    auto bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), g_patternName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr) return 0;
    CopyBitmapToSurface(bitmap, g_patternSurface, 0, 0, kPatternWidth, kPatternHeight);
    DeleteObject(bitmap);
    return 1;
}
