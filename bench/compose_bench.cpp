// Time per frame of ComposeFrame on real DirectDraw surfaces, in phase 0 (background
// and ruler redrawn) and in phases 1 to 4 (two bars and the copy), beside a plain
// memcpy of one screen's bytes as the reference.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "animation/presentation.h"
#include "app/command_line.h"
#include "display/display.h"
#include "tests/support/real_directdraw.h"

namespace {

constexpr int kSamples = 200;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Work>
double MedianMicroseconds(Work work) {
    std::vector<double> times;
    for (int i = 0; i < kSamples; ++i) {
        const double start = Now();
        work(i);
        times.push_back((Now() - start) * 1e6);
    }
    std::nth_element(times.begin(), times.begin() + kSamples / 2, times.end());
    return times[kSamples / 2];
}

bool Measure(IDirectDraw7* directDraw, int width, int height, DWORD memory, const char* placement) {
    g_screenWidth = width, g_screenHeight = height;
    g_patternSurface = CreatePlainSurface(directDraw, kPatternWidth, kPatternHeight, memory);
    g_workSurface = CreatePlainSurface(directDraw, width, height, memory);
    g_backBuffer = CreatePlainSurface(directDraw, width, height, memory);
    if (!g_patternSurface || !g_workSurface || !g_backBuffer || !LoadPatternImage()) {
        std::printf("%dx%d %s: surfaces could not be made\n", width, height, placement);
        return false;
    }
    std::vector<unsigned char> from(static_cast<std::size_t>(width) * height, 1), to(from.size());
    const double copy = MedianMicroseconds([&](int i) {
        from[static_cast<std::size_t>(i) % from.size()] = static_cast<unsigned char>(i);
        std::memcpy(to.data(), from.data(), from.size());
    });
    const double bare = MedianMicroseconds([&](int) {
        g_markerPhase = 0;
        ComposeFrame();
    });
    const double bars = MedianMicroseconds([&](int i) {
        g_markerPhase = 1 + i % 4;
        ComposeFrame();
    });
    // What one blit costs whatever its size: phase 0 makes W / 8 + 4 of them.
    RECT pixel{0, 0, 1, 1};
    const double call =
        MedianMicroseconds([&](int) { g_workSurface->BltFast(0, 0, g_patternSurface, &pixel, DDBLTFAST_NOCOLORKEY); });
    std::printf(
        "%4dx%-4d %-16s memcpy %7.1f us | phase 0 %7.1f us = %5.2f x (target 3) | phases 1-4 %7.1f us = "
        "%5.2f x (target 1.5) | one 1-pixel BltFast %5.1f us\n",
        width, height, placement, copy, bare, bare / copy, bars, bars / copy, call);
    for (IDirectDrawSurface7** surface : {&g_patternSurface, &g_workSurface, &g_backBuffer}) {
        (*surface)->Release();
        *surface = nullptr;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    IDirectDraw7* directDraw = CreateRealDirectDraw();
    if (directDraw == nullptr) return 1;
    // The program asks for no placement; system memory is measured beside it to show
    // where the time goes.
    const bool all = argc > 1 && std::strcmp(argv[1], "--placements") == 0;
    for (auto size : {std::make_pair(1024, 768), std::make_pair(640, 480)}) {
        Measure(directDraw, size.first, size.second, 0, "(as the program)");
        if (all) {
            Measure(directDraw, size.first, size.second, DDSCAPS_SYSTEMMEMORY, "system memory");
            Measure(directDraw, size.first, size.second, DDSCAPS_VIDEOMEMORY, "video memory");
        }
    }
    directDraw->Release();
    return 0;
}
