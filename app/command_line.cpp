// Reads the screen mode from the command line. Tokens are cut at spaces only;
// anything that does not look like an option is dropped without complaint.
#include "app/command_line.h"

#include <cstddef>
#include <cstring>

std::int32_t g_screenWidth = kDefaultScreenWidth;
std::int32_t g_screenHeight = kDefaultScreenHeight;
std::int32_t g_refreshRate = 0;

namespace {

// An option token is copied, with its terminating zero, into a buffer of this size
// before its number is read. Longer tokens cannot be real options and are ignored.
constexpr std::size_t kTokenCapacity = 256;

bool IsValueSpace(char c) {
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal value with an optional sign, like atoi, except that it stops at the zero
// that ends the token and wraps modulo 2^32 instead of overflowing.
std::int32_t ReadOptionValue(const char* text) {
    while (IsValueSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

void ReadOptionToken(const char* token, std::size_t length) {
    if (length < 4 || token[0] != '-') return;
    if (length >= kTokenCapacity) return;

    char copy[kTokenCapacity];
    std::memcpy(copy, token, length);
    copy[length] = '\0';

    const std::int32_t value = ReadOptionValue(copy + 2);
    if (value <= 0) return;
    switch (copy[1]) {
        case 'x':
            g_screenWidth = value;
            break;
        case 'y':
            g_screenHeight = value;
            break;
        case 'r':
            g_refreshRate = value;
            break;
        default:
            break;
    }
}

}  // namespace

const char* ArgumentText(const char* commandLine, bool (*isLeadByte)(unsigned char)) {
    const char* p = commandLine;
    bool quoted = false;
    for (; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            quoted = !quoted;
        } else if (c <= ' ' && !quoted) {
            break;
        } else if (isLeadByte(c) && p[1] != '\0') {
            ++p;  // the trail byte belongs to the character, but never the terminator
        }
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
    return p;
}

void ReadCommandLine(const char* argumentText) {
    g_screenWidth = kDefaultScreenWidth;
    g_screenHeight = kDefaultScreenHeight;
    g_refreshRate = 0;

    const char* token = argumentText;
    if (*token == '\0') return;
    for (;;) {
        const char* end = std::strchr(token, ' ');
        if (end == nullptr) end = token + std::strlen(token);
        ReadOptionToken(token, static_cast<std::size_t>(end - token));
        if (*end == '\0') return;
        token = end + 1;
    }
}
