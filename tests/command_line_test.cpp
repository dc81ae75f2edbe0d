// What WinMain is given, and how the command line sets the screen mode.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "app/program.h"

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}
bool LeadByte81(unsigned char c) {
    return c == 0x81;
}

std::string Arguments(const char* commandLine, bool (*isLeadByte)(unsigned char) = NoLeadBytes) {
    return ArgumentText(commandLine, isLeadByte);
}

struct Mode {
    int width, height, refresh;
    bool operator==(const Mode& other) const {
        return width == other.width && height == other.height && refresh == other.refresh;
    }
};

std::ostream& operator<<(std::ostream& out, const Mode& mode) {
    return out << mode.width << "x" << mode.height << "@" << mode.refresh;
}

Mode ModeFrom(const std::string& argumentText) {
    g_screenWidth = g_screenHeight = g_refreshRate = -7;  // stale values must not survive
    ReadCommandLine(argumentText.c_str());
    return {g_screenWidth, g_screenHeight, g_refreshRate};
}

const Mode kDefaultMode{1024, 768, 0};

TEST(ArgumentText, DropsProgramNameAndTheWhiteSpaceAfterIt) {
    EXPECT_EQ("-x800 -y600", Arguments("velmaro.exe -x800 -y600"));
    EXPECT_EQ("-x800", Arguments("velmaro.exe\t\x01\x1f   -x800"));
    EXPECT_EQ("-x800  ", Arguments("velmaro.exe -x800  "));
    EXPECT_EQ("", Arguments("velmaro.exe"));
    EXPECT_EQ("", Arguments("velmaro.exe \t "));
    EXPECT_EQ("", Arguments(""));
    // Any character up to the space ends the name, a tab or a control character as well.
    EXPECT_EQ("-y600", Arguments("velmaro\t-y600"));
    EXPECT_EQ("-y600", Arguments("velmaro\x05-y600"));
    // Only characters 1 to 32 are skipped; 33 ("!") begins the argument text.
    EXPECT_EQ("!x", Arguments("v \x20!x"));
}

TEST(ArgumentText, QuotesKeepSpacesInsideTheName) {
    EXPECT_EQ("-x800", Arguments("\"C:\\Program Files\\Velmaro\\velmaro.exe\" -x800"));
    EXPECT_EQ("-x800", Arguments("C:\\\"Program Files\"\\velmaro.exe -x800"));
    // Each quote switches, so a second pair opens again.
    EXPECT_EQ("tail", Arguments("\"a b\"c\" d\" tail"));
    // An unclosed quote runs to the end: the whole line is the name.
    EXPECT_EQ("", Arguments("\"velmaro.exe -x800"));
}

TEST(ArgumentText, LeadByteTakesTheNextByteWithIt) {
    // The space after the lead byte belongs to the character, not the separator.
    EXPECT_EQ("-x800", Arguments("v\x81 name.exe -x800", LeadByte81));
    EXPECT_EQ("name.exe -x800", Arguments("v\x81 name.exe -x800"));
    // A quote after a lead byte is a trail byte and does not switch.
    EXPECT_EQ("-x800", Arguments("v\x81\" -x800", LeadByte81));
}

TEST(ArgumentText, LeadByteAtTheEndStopsAtTheTerminator) {
    const char line[] = "velmaro\x81";
    const char* text = ArgumentText(line, LeadByte81);
    EXPECT_EQ(line + sizeof line - 1, text) << "read " << (text - line) << " bytes into an 8-byte line";
}

TEST(ReadCommandLine, EmptyOrUselessTextGivesDefaults) {
    EXPECT_EQ(kDefaultMode, ModeFrom(""));
    EXPECT_EQ(kDefaultMode, ModeFrom("   "));
    EXPECT_EQ(kDefaultMode, ModeFrom("-X800 -Y600 -R85"));
    EXPECT_EQ(kDefaultMode, ModeFrom("-q800 x800 --x800"));
    EXPECT_EQ(kDefaultMode, ModeFrom("-x 800"));
    EXPECT_EQ(kDefaultMode, ModeFrom("-xabc"));
    EXPECT_EQ(kDefaultMode, ModeFrom("-r9"));
}

TEST(ReadCommandLine, OptionsSetTheirValuesInAnyOrder) {
    EXPECT_EQ((Mode{800, 600, 85}), ModeFrom("-x800 -y600 -r85"));
    EXPECT_EQ((Mode{800, 600, 85}), ModeFrom("-r85 -y600 -x800"));
    EXPECT_EQ((Mode{2048, 768, 0}), ModeFrom("-x2048"));
    EXPECT_EQ((Mode{1024, 768, 9}), ModeFrom("-r09"));
    EXPECT_EQ((Mode{800, 600, 0}), ModeFrom("  -x800    -y600  "));
}

TEST(ReadCommandLine, LastValidTokenWins) {
    EXPECT_EQ(640, ModeFrom("-x800 -x640").width);
    EXPECT_EQ(640, ModeFrom("-x640 -x0").width);
    EXPECT_EQ(640, ModeFrom("-x640 -x-5").width);
    EXPECT_EQ(600, ModeFrom("-y1024 -y600").height);
    EXPECT_EQ(1024, ModeFrom("-y600 -y1024").height) << "the height is not checked while reading";
}

TEST(ReadCommandLine, ValueIsReadLikeADecimalNumber) {
    EXPECT_EQ(800, ModeFrom("-x800abc").width);
    EXPECT_EQ(800, ModeFrom("-x+800").width);
    EXPECT_EQ(800, ModeFrom("-x\t\n\v\f\r800").width);
    EXPECT_EQ(1024, ModeFrom("-x+-800").width);
    EXPECT_EQ(1024, ModeFrom("-x -800").width) << "a space ends the token";
    // Digits beyond 32 bits wrap.
    EXPECT_EQ(1, ModeFrom("-x4294967297").width);
    EXPECT_EQ(1024, ModeFrom("-x2147483648").width) << "wraps to a negative value";
    EXPECT_EQ(2147483647, ModeFrom("-x2147483647").width);
    EXPECT_EQ(5, ModeFrom("-x-4294967291").width);
}

TEST(ReadCommandLine, OnlyTheSpaceSeparatesTokens) {
    EXPECT_EQ((Mode{800, 768, 0}), ModeFrom("-x800\t-y600"));
}

TEST(ReadCommandLine, TokensTooLongForTheWorkingCopyAreIgnored) {
    const std::string longest = "-x" + std::string(250, '0') + "640";  // 255 characters
    ASSERT_EQ(255u, longest.size());
    EXPECT_EQ(640, ModeFrom(longest).width);
    EXPECT_EQ(640, ModeFrom(longest + " -y" + std::string(300, '7')).width);
    EXPECT_EQ(768, ModeFrom(longest + " -y" + std::string(300, '7')).height);
    EXPECT_EQ(1024, ModeFrom("-x" + std::string(251, '0') + "640").width);
}

TEST(ShowCommand, ComesFromStartupInfoOnlyWhenItsFlagIsSet) {
    STARTUPINFOA info{};
    info.cb = sizeof info;
    info.wShowWindow = SW_SHOWMINNOACTIVE;
    EXPECT_EQ(SW_SHOWDEFAULT, ShowCommandFromStartupInfo(info));
    info.dwFlags = STARTF_USESHOWWINDOW;
    EXPECT_EQ(SW_SHOWMINNOACTIVE, ShowCommandFromStartupInfo(info));
    info.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    info.wShowWindow = SW_HIDE;
    EXPECT_EQ(SW_HIDE, ShowCommandFromStartupInfo(info));
}

}  // namespace
