// Starts Wine's desktop for a fresh prefix: opens a window, lets a few messages
// through, and closes it again.
#include <windows.h>

int main() {
    HWND window = CreateWindowExA(0, "STATIC", "warm-up", WS_POPUP | WS_VISIBLE, 0, 0, 16, 16, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    MSG message;
    for (int i = 0; i < 50 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&message);
    DestroyWindow(window);
    return window != nullptr && GetSystemMetrics(SM_CXSCREEN) > 0 ? 0 : 1;
}
