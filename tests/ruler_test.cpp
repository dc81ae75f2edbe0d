// The ruler bitmap as built into velmaro.exe, checked against its drawing rules.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ruler_grey.h"

#include "tests/support/program_path.h"

namespace {

constexpr int kWidth = 330, kHeight = 768, kRowBytes = 332, kPixelsAt = 1052;
constexpr int kBlack = 0, kWhite = 252;

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

class Ruler : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        program_ = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, program_) << "cannot open " << ProgramPath();
        HRSRC resource = FindResourceA(program_, "Pattern", RT_BITMAP);
        ASSERT_NE(nullptr, resource);
        const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(program_, resource)));
        data_.assign(bytes, bytes + SizeofResource(program_, resource));
        EnumResourceLanguagesA(program_, RT_BITMAP, "PATTERN", CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages_));
    }
    static void TearDownTestSuite() { FreeLibrary(program_); }

    static std::uint32_t Field(int offset, int size) {
        std::uint32_t value = 0;
        std::memcpy(&value, data_.data() + offset, size);
        return value;
    }
    // Index at column x of row r, counted from the top.
    static int At(int x, int r) { return data_[kPixelsAt + (kHeight - 1 - r) * kRowBytes + x]; }
    static bool Ink(int x, int r) { return At(x, r) != kWhite; }

    static HMODULE program_;
    static std::vector<std::uint8_t> data_;
    static std::vector<WORD> languages_;
};
HMODULE Ruler::program_ = nullptr;
std::vector<std::uint8_t> Ruler::data_;
std::vector<WORD> Ruler::languages_;

TEST_F(Ruler, IsOneLanguageNeutralPackedBitmap) {
    EXPECT_EQ(std::vector<WORD>{0}, languages_);
    ASSERT_EQ(256028u, data_.size());
    struct {
        const char* name;
        int offset, size;
        std::uint32_t expected;
    } fields[] = {{"biSize", 0, 4, 40},           {"biWidth", 4, 4, 330},           {"biHeight", 8, 4, 768},
                  {"biPlanes", 12, 2, 1},         {"biBitCount", 14, 2, 8},         {"biCompression", 16, 4, 0},
                  {"biSizeImage", 20, 4, 254976}, {"biXPelsPerMeter", 24, 4, 3779}, {"biYPelsPerMeter", 28, 4, 3779},
                  {"biClrUsed", 32, 4, 253},      {"biClrImportant", 36, 4, 0}};
    for (const auto& f : fields) EXPECT_EQ(f.expected, Field(f.offset, f.size)) << f.name;
}

TEST_F(Ruler, ColourTableIsEveryGreyButThree) {
    std::set<int> greys;
    for (int i = 0; i < 253; ++i) {
        const std::uint8_t* quad = data_.data() + 40 + 4 * i;
        EXPECT_TRUE(quad[0] == quad[1] && quad[1] == quad[2] && quad[3] == 0)
            << "entry " << i << ": " << int(quad[0]) << "," << int(quad[1]) << "," << int(quad[2]) << ","
            << int(quad[3]);
        const int expected = RulerGrey(i);
        EXPECT_EQ(expected, quad[0]) << "entry " << i;
        greys.insert(quad[0]);
    }
    EXPECT_EQ(0u, greys.count(41) + greys.count(100) + greys.count(174));
}

TEST_F(Ruler, RowsArePaddedWithZeros) {
    for (int row = 0; row < kHeight; ++row)
        for (int pad = kWidth; pad < kRowBytes; ++pad)
            ASSERT_EQ(0, data_[kPixelsAt + row * kRowBytes + pad]) << "stored row " << row << " byte " << pad;
}

TEST_F(Ruler, EveryIndexOccursAndNoOther) {
    std::vector<int> count(256, 0);
    for (int r = 0; r < kHeight; ++r)
        for (int x = 0; x < kWidth; ++x) ++count[At(x, r)];
    for (int i = 0; i < 256; ++i) EXPECT_EQ(i<253, count[i]> 0) << "index " << i << " occurs " << count[i] << " times";
}

bool BandBlack(int x, int n) {
    if (x <= 4) return true;
    if (x <= 14) return false;
    if (x <= 64) return n % 2 == 0;
    if (x <= 74) return n % 2 == 0 || n % 10 == 5;
    if (x <= 84) return n % 5 == 0;
    if (x <= 94) return n % 10 == 0;
    if (x <= 105) {
        for (int k = 1; k <= 76; ++k)
            if (n >= 10 * k - 1 && n <= 10 * k + 1) return true;
        return false;
    }
    if (x <= 115) return n % 10 == 0;
    return n % 50 == 0;
}

TEST_F(Ruler, BandsArePureBlackAndWhiteByLine) {
    for (int r = 0; r < kHeight; ++r) {
        const int n = r + 1;
        for (int x = 0; x <= 120; ++x) {
            const int expected = BandBlack(x, n) ? kBlack : kWhite;
            ASSERT_EQ(expected, At(x, r)) << "line " << n << " column " << x;
            ASSERT_EQ(expected, At(329 - x, r)) << "line " << n << " column " << 329 - x;
        }
    }
    // Spot checks of the rules as they read: line 768 black in the stripes, no tick on lines 1 and 768.
    EXPECT_EQ(kBlack, At(40, 767));
    EXPECT_EQ(kWhite, At(100, 0));
    EXPECT_EQ(kWhite, At(100, 767));
    EXPECT_EQ(kBlack, At(70, 4)) << "line 5: the 3-line bar of lines 4 to 6";
}

TEST_F(Ruler, HalvesMirrorOutsideTheDigits) {
    for (int r = 0; r < kHeight; ++r)
        for (int x = 0; x < 138; ++x)
            ASSERT_EQ(At(x, r), At(329 - x, r)) << "row " << r << " columns " << x << " and " << 329 - x;
}

bool NearLabel(int r, int reach) {
    for (int label = 50; label <= 750; label += 50)
        if (std::abs(r - (label - 1)) <= reach) return true;
    return false;
}

TEST_F(Ruler, LabelZoneIsWhiteAwayFromLabels) {
    for (int r = 0; r < kHeight; ++r) {
        if (NearLabel(r, 12)) continue;
        for (int x = 121; x <= 208; ++x) ASSERT_EQ(kWhite, At(x, r)) << "row " << r << " column " << x;
    }
    // Near a label, ink only in the arrowheads and the digits.
    for (int label = 50; label <= 750; label += 50) {
        const int row = label - 1;
        const int tip = label % 100 == 0 ? 135 : 128;
        for (int r = row - 12; r <= row + 12; ++r)
            for (int x = 121; x < 138; ++x) {
                const bool arrow = x <= tip && std::abs(r - row) <= 3;
                if (!arrow) {
                    EXPECT_EQ(kWhite, At(x, r)) << "label " << label << " row " << r << " column " << x;
                }
            }
    }
}

TEST_F(Ruler, ArrowheadsPointAtEachLabel) {
    for (int label = 50; label <= 750; label += 50) {
        const int row = label - 1;
        const bool twice = label % 100 == 0;
        for (int x = 15; x <= (twice ? 135 : 128); ++x)
            EXPECT_EQ(kBlack, At(x, row)) << "label " << label << " column " << x;
        for (int base : twice ? std::vector<int>{121, 128} : std::vector<int>{121}) {
            for (int r = row - 3; r <= row + 3; ++r)
                EXPECT_TRUE(Ink(base, r)) << "label " << label << " base " << base << " row " << r;
            EXPECT_FALSE(Ink(base, row - 4)) << "label " << label << " base " << base;
            EXPECT_FALSE(Ink(base, row + 4)) << "label " << label << " base " << base;
        }
        // The tip is one row; a first tip of a double arrow is the second one's base.
        const int tip = twice ? 135 : 128;
        EXPECT_TRUE(Ink(tip, row) && !Ink(tip, row - 1) && !Ink(tip, row + 1)) << "label " << label << ": tip " << tip;
        EXPECT_FALSE(Ink(twice ? 136 : 129, row)) << "label " << label << ": ink past the tip";
        // Anti-aliased edges: a grey somewhere on the slanted sides.
        bool grey = false;
        for (int x = 121; x <= 128; ++x)
            for (int r = row - 3; r <= row + 3; ++r) grey |= At(x, r) != kBlack && At(x, r) != kWhite;
        EXPECT_TRUE(grey) << "label " << label << ": arrowhead without grey edges";
    }
}

TEST_F(Ruler, LabelsAreCentredOnTheirRows) {
    for (int label = 50; label <= 750; label += 50) {
        const int row = label - 1;
        const bool hundred = label % 100 == 0;
        const int reach = hundred ? 12 : 8;  // ink rows including the anti-aliased edges
        int top = kHeight, bottom = -1, left = kWidth, right = -1, greys = 0;
        for (int r = row - 14; r <= row + 14; ++r)
            for (int x = 138; x <= 191; ++x) {
                if (!Ink(x, r)) continue;
                top = std::min(top, r), bottom = std::max(bottom, r);
                left = std::min(left, x), right = std::max(right, x);
                greys += At(x, r) != kBlack;
            }
        EXPECT_EQ(row - reach, top) << "label " << label;
        EXPECT_EQ(row + reach, bottom) << "label " << label;
        for (int r = row - reach + 1; r < row + reach; ++r) {
            bool dark = false;
            for (int x = left; x <= right; ++x) dark |= At(x, r) < 128;
            EXPECT_TRUE(dark) << "label " << label << ": no dark digit pixel on row " << r;
        }
        EXPECT_LE(std::abs(left + right - 2 * 165), 2) << "label " << label << " spans " << left << " to " << right;
        const int width = right - left + 1;
        const int widest = hundred ? 51 : label == 50 ? 23 : 35;
        EXPECT_TRUE(width <= widest && width >= widest - 5) << "label " << label << " is " << width << " wide";
        EXPECT_GT(greys, 20) << "label " << label << ": digits without anti-aliasing";
        // Nothing of the digits outside their columns.
        for (int r = row - 14; r <= row + 14; ++r) {
            EXPECT_FALSE(Ink(137, r) || Ink(192, r)) << "label " << label << " row " << r;
        }
    }
}

}  // namespace
