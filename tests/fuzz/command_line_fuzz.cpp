// Fuzzes the reading of the command line: the argument text cut from a whole command
// line (with Shift-JIS lead bytes), then the options read from it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/command_line.h"

namespace {

bool ShiftJisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    const char* arguments = ArgumentText(line.data(), ShiftJisLeadByte);
    if (arguments < line.data() || arguments > line.data() + std::strlen(line.data())) std::abort();
    if (*arguments != '\0' && static_cast<unsigned char>(*arguments) <= ' ') std::abort();

    ReadCommandLine(arguments);
    // Only values above 0 are ever taken.
    if (g_screenWidth <= 0 || g_screenHeight <= 0 || g_refreshRate < 0) std::abort();
    return 0;
}
