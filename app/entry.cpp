// Process entry. The runtime calls main; WinMain gets its argument text and show
// command worked out here from the process's own command line and start-up
// information, so they do not depend on what a particular runtime passes.
#include "app/command_line.h"
#include "app/program.h"

namespace {

bool IsLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != FALSE;
}

}  // namespace

int main() {
    STARTUPINFOA startupInfo{};
    startupInfo.cb = sizeof startupInfo;
    GetStartupInfoA(&startupInfo);
    char* argumentText = const_cast<char*>(ArgumentText(GetCommandLineA(), IsLeadByte));
    return WinMain(GetModuleHandleA(nullptr), nullptr, argumentText, ShowCommandFromStartupInfo(startupInfo));
}
