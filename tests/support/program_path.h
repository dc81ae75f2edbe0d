// Where velmaro.exe is: every program of the build lands in the same folder.
#pragma once

#include <windows.h>

#include <string>

inline std::string ProgramPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string self = path;
    return self.substr(0, self.find_last_of("\\/") + 1) + "velmaro.exe";
}
