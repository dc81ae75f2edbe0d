// The program's entry after the runtime's start-up: the command line, the height
// check, set-up and the message loop.
#include "app/command_line.h"
#include "app/program.h"

int ShowCommandFromStartupInfo(const STARTUPINFOA& startupInfo) {
    if ((startupInfo.dwFlags & STARTF_USESHOWWINDOW) != 0) return startupInfo.wShowWindow;
    return SW_SHOWDEFAULT;
}

int RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int showCommand) {
    ReadCommandLine(argumentText);
    // The ruler is 768 lines tall; a taller mode would leave lines without a scale.
    if (g_screenHeight > kMaxScreenHeight) {
        MessageBoxA(nullptr, kHeightWarning, kProgramTitle, MB_OK | MB_ICONWARNING);
        return 0;
    }
    if (InitApplication(instance, showCommand) != 0) return 0;
    return RunMessageLoop();
}
