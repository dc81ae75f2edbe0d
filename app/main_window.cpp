// The one window: a black, top-most pop-up over the whole screen that DirectDraw
// takes for exclusive use, and its window procedure.
#include "animation/presentation.h"
#include "app/program.h"
#include "display/display.h"

int g_appActive = 0;

namespace {

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = kWindowClassName;
    windowClass.lpszClassName = kWindowClassName;
    // A failed registration shows up as a failure to create the window.
    RegisterClassA(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance) {
    // Created hidden (no WS_VISIBLE), at the size of the screen before any mode change.
    return CreateWindowExA(WS_EX_TOPMOST, kWindowClassName, kProgramTitle, WS_POPUP, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance,
                           nullptr);
}

LRESULT OnDestroy() {
    ReleaseDisplayObjects();
    PostQuitMessage(0);
    return 0;
}

// Follows the minimized state only: a deactivated but visible window keeps animating.
LRESULT OnActivate(WPARAM wParam) {
    g_appActive = HIWORD(wParam) == 0 ? 1 : 0;
    return 0;
}

LRESULT OnSetCursor() {
    SetCursor(nullptr);
    return TRUE;
}

LRESULT OnKeyDown(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    if (wParam == VK_ESCAPE || wParam == VK_F12) {
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    }
    return DefWindowProcA(hwnd, WM_KEYDOWN, wParam, lParam);
}

LRESULT OnTimer(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    if (g_appActive != 0 && wParam == kFrameTimerId) PresentFrame();
    return DefWindowProcA(hwnd, WM_TIMER, wParam, lParam);
}

}  // namespace

int InitApplication(HINSTANCE instance, int showCommand) {
    RegisterMainWindowClass(instance);
    HWND window = CreateMainWindow(instance);
    if (window == nullptr) return 1;

    // Showing the window activates it, and WM_ACTIVATE lets frames run.
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    SetFocus(window);
    return SetUpDisplay(window);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            return OnDestroy();
        case WM_ACTIVATE:
            return OnActivate(wParam);
        case WM_SETCURSOR:
            return OnSetCursor();
        case WM_KEYDOWN:
            return OnKeyDown(hwnd, wParam, lParam);
        case WM_TIMER:
            return OnTimer(hwnd, wParam, lParam);
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
