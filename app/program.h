// Names and texts that the program shows, and the entry points of its shell.
#pragma once

#include <windows.h>

constexpr char kProgramTitle[] = "Velmaro";
constexpr char kWindowClassName[] = "Quindel";
constexpr char kHeightWarning[] = "The vertical resolution is limited to 768 lines! Use a lower resolution.";

// 0: go on into the message loop; anything else: set-up failed and has been dealt with.
int InitApplication(HINSTANCE instance, int showCommand);

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Show command for the first window, as the process was asked to start.
int ShowCommandFromStartupInfo(const STARTUPINFOA& startupInfo);

// Runs until WM_QUIT and returns its code.
int RunMessageLoop();

// 1 while the window is not minimized; frames are made only then.
extern int g_appActive;
