#include "tests/support/real_directdraw.h"

#include <cstring>

IDirectDraw7* CreateRealDirectDraw() {
    IDirectDraw7* directDraw = nullptr;
    if (DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7, nullptr) != DD_OK)
        return nullptr;
    directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    return directDraw;
}

IDirectDrawSurface7* CreatePlainSurface(IDirectDraw7* directDraw, int width, int height, DWORD extraCaps) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | extraCaps;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat.dwSize = sizeof desc.ddpfPixelFormat;
    desc.ddpfPixelFormat.dwFlags = DDPF_RGB | DDPF_PALETTEINDEXED8;
    desc.ddpfPixelFormat.dwRGBBitCount = 8;
    IDirectDrawSurface7* surface = nullptr;
    if (directDraw->CreateSurface(&desc, &surface, nullptr) != DD_OK) return nullptr;
    return surface;
}

namespace {

template <typename Visit>
bool WithLockedSurface(IDirectDrawSurface7* surface, Visit visit) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return false;
    for (DWORD row = 0; row < desc.dwHeight; ++row)
        visit(static_cast<std::uint8_t*>(desc.lpSurface) + row * static_cast<DWORD>(desc.lPitch), desc.dwWidth);
    surface->Unlock(nullptr);
    return true;
}

}  // namespace

std::vector<std::uint8_t> ReadSurface(IDirectDrawSurface7* surface) {
    std::vector<std::uint8_t> pixels;
    WithLockedSurface(surface, [&](std::uint8_t* row, DWORD width) { pixels.insert(pixels.end(), row, row + width); });
    return pixels;
}

void FillSurface(IDirectDrawSurface7* surface, std::uint8_t index) {
    WithLockedSurface(surface, [&](std::uint8_t* row, DWORD width) { std::memset(row, index, width); });
}

std::vector<std::uint8_t> RulerIndices() {
    HRSRC resource = FindResourceA(nullptr, "Pattern", RT_BITMAP);
    if (resource == nullptr) return {};
    const auto* bitmap = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    const int width = 330, height = 768, rowBytes = 332, pixelsAt = 40 + 4 * 253;
    std::vector<std::uint8_t> indices;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* stored = bitmap + pixelsAt + (height - 1 - row) * rowBytes;
        indices.insert(indices.end(), stored, stored + width);
    }
    return indices;
}
