// The version block of velmaro.exe, as Windows reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/program_path.h"

namespace {

class VersionBlock : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(ProgramPath().c_str(), &ignored);
        ASSERT_NE(0u, size) << "no version block in " << ProgramPath();
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(ProgramPath().c_str(), 0, size, block.data()));
    }
    std::string String(const std::string& key) {
        void* value = nullptr;
        UINT length = 0;
        const std::string path = "\\StringFileInfo\\040904b0\\" + key;
        if (!VerQueryValueA(block.data(), path.c_str(), &value, &length)) return "<missing>";
        return static_cast<const char*>(value);
    }
    std::vector<char> block;
};

TEST_F(VersionBlock, FixedPartHoldsVersionFlagsAndType) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof *fixed, length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x00010000u, fixed->dwStrucVersion);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(0x0030003Fu, fixed->dwFileFlagsMask);
    EXPECT_EQ(0x00000008u, fixed->dwFileFlags);
    EXPECT_EQ(0x00000004u, fixed->dwFileOS);
    EXPECT_EQ(0x00000001u, fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);
    EXPECT_EQ(0u, fixed->dwFileDateMS);
    EXPECT_EQ(0u, fixed->dwFileDateLS);
}

TEST_F(VersionBlock, StringsNameTheProduct) {
    EXPECT_EQ("Velmaro", String("FileDescription"));
    EXPECT_EQ("0, 1, 0, 0", String("FileVersion"));
    EXPECT_EQ("Velmaro", String("InternalName"));
    EXPECT_EQ("velmaro.exe", String("OriginalFilename"));
    EXPECT_EQ("Velmaro", String("ProductName"));
    EXPECT_EQ("0, 1, 0, 0", String("ProductVersion"));
    EXPECT_NE("<missing>", String("CompanyName"));
    EXPECT_NE("<missing>", String("LegalCopyright"));
    EXPECT_EQ("<missing>", String("PrivateBuild"));
}

TEST_F(VersionBlock, OneTranslationUsEnglishUnicode) {
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);
}

TEST_F(VersionBlock, IsResourceOneInUsEnglish) {
    HMODULE program = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program);
    EXPECT_NE(nullptr,
              FindResourceExA(program, RT_VERSION, MAKEINTRESOURCEA(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    FreeLibrary(program);
}

}  // namespace
