// Start-up with test doubles of DirectDraw: each way the display set-up can fail, and
// the release of the display objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/presentation.h"
#include "app/command_line.h"
#include "app/program.h"
#include "display/display.h"
#include "tests/support/fake_directdraw.h"
#include "tests/support/import_hook.h"

VELMARO_IMPORT_SLOT(GetProcAddress)
VELMARO_IMPORT_SLOT(LoadLibraryA)
VELMARO_IMPORT_SLOT(MessageBoxA)
VELMARO_IMPORT_SLOT(SetTimer)
VELMARO_IMPORT_SLOT(LoadImageA)

namespace {

DirectDrawScript* g_script = nullptr;
FakeDirectDraw* g_fakeDirectDraw = nullptr;
FARPROC(WINAPI* g_realGetProcAddress)(HMODULE, LPCSTR) = nullptr;

HRESULT WINAPI FakeDirectDrawCreateEx(GUID* guid, LPVOID* object, REFIID iid, IUnknown* outer) {
    const HRESULT result = g_script->Record("ddraw", "DirectDrawCreateEx",
                                            std::string(guid ? "guid" : "null") + "," +
                                                (IsEqualIID(iid, IID_IDirectDraw7) ? "IDirectDraw7" : "other") + "," +
                                                (outer ? "outer" : "null"));
    if (result == DD_OK) *object = static_cast<IDirectDraw7*>(g_fakeDirectDraw);
    return result;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && std::string(name) == "DirectDrawCreateEx")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeDirectDrawCreateEx));
    return g_realGetProcAddress(module, name);
}

HMODULE WINAPI MissingLibrary(LPCSTR) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

struct Box {
    HWND owner;
    bool ownerExisted;
    std::string text, caption;
    UINT flags;
    std::size_t callsBefore;  // DirectDraw calls logged when the box came up
};
std::vector<Box> g_boxes;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
    g_boxes.push_back({owner, IsWindow(owner) != FALSE, text, caption, flags, g_script->calls.size()});
    return IDOK;
}

std::vector<UINT_PTR> g_timerResults;
UINT_PTR WINAPI ScriptedSetTimer(HWND window, UINT_PTR id, UINT interval, TIMERPROC procedure) {
    g_script->Record("user32", "SetTimer",
                     std::string(window ? "window" : "null") + "," + std::to_string(id) + "," +
                         std::to_string(interval) + "," + (procedure ? "procedure" : "null"));
    if (g_timerResults.empty()) return id;
    const UINT_PTR result = g_timerResults.front();
    g_timerResults.erase(g_timerResults.begin());
    return result;
}

HANDLE WINAPI NoImage(HINSTANCE, LPCSTR, UINT, int, int, UINT) {
    return nullptr;
}

const std::string kSurfaceDescSize = std::to_string(sizeof(DDSURFACEDESC2));

class DisplaySetUp : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &script;
        g_fakeDirectDraw = &directDraw;
        g_realGetProcAddress = reinterpret_cast<decltype(g_realGetProcAddress)>(hook_GetProcAddress.Original());
        g_boxes.clear();
        g_timerResults.clear();
        g_screenWidth = 1024, g_screenHeight = 768, g_refreshRate = 0;
        directDraw.SetSurfaces({&primary, &work, &pattern});
        directDraw.SetPalette(&palette);
        primary.SetAttached(&back);
        ClearGlobals();
    }
    void TearDown() override {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        ClearGlobals();
        g_appActive = 0;
    }
    static void ClearGlobals() {
        g_directDraw = nullptr;
        g_primarySurface = g_backBuffer = g_workSurface = g_patternSurface = nullptr;
        g_palette = nullptr;
    }

    // InitApplication's result, with the quit message it left behind (-1 if none).
    int Start(int& quitCode) {
        const int result = InitApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
        MSG message;
        quitCode = PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? static_cast<int>(message.wParam) : -1;
        return result;
    }

    std::vector<std::string> SetUpCalls() const {
        return {
            "ddraw.DirectDrawCreateEx(null,IDirectDraw7,null)",
            "dd.SetCooperativeLevel(window,0x11)",
            "dd.SetDisplayMode(1024,768,8,0,0x0)",
            "dd.CreateSurface(" + kSurfaceDescSize + ",flags=0x21,caps=0x218,back=1,0x0,null)",
            "primary.GetAttachedSurface(0x4,0x0,0x0,0x0)",
            "dd.CreateSurface(" + kSurfaceDescSize + ",flags=0x7,caps=0x40,back=1,1024x768,null)",
            "dd.CreateSurface(" + kSurfaceDescSize + ",flags=0x7,caps=0x40,back=1,330x768,null)",
            "dd.CreatePalette(0x4,null)",
            "primary.SetPalette(palette)",
        };
    }

    DirectDrawScript script;
    FakeDirectDraw directDraw{script};
    FakeSurface primary{script, "primary"}, back{script, "back"}, work{script, "work"};
    FakeSurface pattern{script, "pattern", 330, 768};
    FakePalette palette{script, "palette"};

    VELMARO_HOOK(GetProcAddress, FakeGetProcAddress);
    VELMARO_HOOK(MessageBoxA, RecordMessageBox);
    VELMARO_HOOK(SetTimer, ScriptedSetTimer);
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> kLoadRuler = {"pattern.Restore()",
                                             "pattern.GetSurfaceDesc(" + kSurfaceDescSize + ",0x6)", "pattern.GetDC()",
                                             "pattern.ReleaseDC(its dc)"};
const std::vector<std::string> kTimer = {"user32.SetTimer(window,1,1,null)"};

TEST_F(DisplaySetUp, SucceedsWithEveryStepInOrder) {
    int quit = 0;
    EXPECT_EQ(0, Start(quit));
    EXPECT_EQ(-1, quit) << "a quit message after a good start";
    EXPECT_TRUE(g_boxes.empty()) << "box: " << g_boxes[0].text;
    EXPECT_EQ(Concat(Concat(SetUpCalls(), kLoadRuler), kTimer), script.calls);
    EXPECT_EQ(&directDraw, g_directDraw);
    EXPECT_EQ(&primary, g_primarySurface);
    EXPECT_EQ(&back, g_backBuffer);
    EXPECT_EQ(&work, g_workSurface);
    EXPECT_EQ(&pattern, g_patternSurface);
    EXPECT_EQ(&palette, g_palette);
    EXPECT_EQ(1, g_appActive) << "showing the window should have activated it";

    // Closing the window gives everything back, in order, and ends the loop with 0.
    script.calls.clear();
    HWND window = FindWindowA(kWindowClassName, kProgramTitle);
    ASSERT_NE(nullptr, window);
    DestroyWindow(window);
    EXPECT_EQ((std::vector<std::string>{"primary.Release()", "work.Release()", "pattern.Release()", "palette.Release()",
                                        "dd.Release()"}),
              script.calls);
    EXPECT_EQ(0, RunMessageLoop());
}

TEST_F(DisplaySetUp, ModeAndSurfaceFollowTheCommandLine) {
    g_screenWidth = 800, g_screenHeight = 600, g_refreshRate = 85;
    int quit = 0;
    EXPECT_EQ(0, Start(quit));
    EXPECT_EQ(1u, script.CallsTo("dd.SetDisplayMode(800,600,8,85,0x0)").size()) << script.Joined();
    EXPECT_EQ(1u,
              script.CallsTo("dd.CreateSurface(" + kSurfaceDescSize + ",flags=0x7,caps=0x40,back=1,800x600,").size());
    EXPECT_EQ(1u,
              script.CallsTo("dd.CreateSurface(" + kSurfaceDescSize + ",flags=0x7,caps=0x40,back=1,330x768,").size())
        << "the pattern surface is the ruler's size whatever the mode";
    DestroyWindow(FindWindowA(kWindowClassName, kProgramTitle));
}

TEST_F(DisplaySetUp, WithoutAPaletteTheProgramStillRuns) {
    script.Answer("dd.CreatePalette", {DDERR_OUTOFMEMORY});
    int quit = 0;
    EXPECT_EQ(0, Start(quit));
    EXPECT_TRUE(script.CallsTo("primary.SetPalette").empty());
    EXPECT_EQ(nullptr, g_palette);
    EXPECT_TRUE(g_boxes.empty());
    script.calls.clear();
    DestroyWindow(FindWindowA(kWindowClassName, kProgramTitle));
    EXPECT_EQ((std::vector<std::string>{"primary.Release()", "work.Release()", "pattern.Release()", "dd.Release()"}),
              script.calls);
}

struct FailureRow {
    const char* what;
    const char* call;  // answered with the failure
    HRESULT failure;
    std::size_t stepsDone;  // of SetUpCalls(), the failing one included
    const char* message;
    std::vector<std::string> released;
};

const char kNoDirectDraw[] = "Could not create DirectDraw! Make sure at least DirectX 7 is installed.";
const char kNoMode[] = "Could not set the requested display mode! Try another resolution of refresh rate.";

TEST_F(DisplaySetUp, EachFailingDirectDrawStepIsReportedOnceAndUnwound) {
    const std::vector<std::string> none, dd{"dd.Release()"}, primaryAndDd{"primary.Release()", "dd.Release()"};
    const FailureRow rows[] = {
        {"create", "ddraw.DirectDrawCreateEx", DDERR_NODIRECTDRAWHW, 1, kNoDirectDraw, none},
        {"cooperation", "dd.SetCooperativeLevel", DDERR_EXCLUSIVEMODEALREADYSET, 2, "SetCooperativeLevel FAILED", dd},
        {"mode", "dd.SetDisplayMode", E_NOTIMPL, 3, kNoMode, dd},
        {"mode, positive result", "dd.SetDisplayMode", static_cast<HRESULT>(1), 3, kNoMode, dd},
        {"primary", "dd.CreateSurface", DDERR_OUTOFVIDEOMEMORY, 4, "CreateSurface FAILED", dd},
        {"back buffer", "primary.GetAttachedSurface", DDERR_NOTFOUND, 5, "GetAttachedSurface FAILED", primaryAndDd},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.what);
        script.calls.clear();
        script.Answer(row.call, {row.failure});
        g_boxes.clear();
        directDraw.SetSurfaces({&primary, &work, &pattern});
        int quit = 0;
        EXPECT_EQ(row.failure, Start(quit));
        const std::vector<std::string> all = SetUpCalls();
        const std::vector<std::string> steps(all.begin(), all.begin() + row.stepsDone);
        EXPECT_EQ(Concat(steps, row.released), script.calls);
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ(row.message, g_boxes[0].text);
        EXPECT_EQ("Velmaro", g_boxes[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), g_boxes[0].flags);
        EXPECT_TRUE(g_boxes[0].ownerExisted) << "the box has no living owner";
        EXPECT_EQ(script.calls.size(), g_boxes[0].callsBefore) << "the box came before everything was given back";
        EXPECT_FALSE(IsWindow(g_boxes[0].owner)) << "the window outlived the failure";
        EXPECT_EQ(0, quit) << "no quit message with 0";
        EXPECT_EQ(nullptr, g_directDraw);
    }
}

TEST_F(DisplaySetUp, FailingOffScreenSurfacesGiveBackWhatWasMade) {
    struct Row {
        std::vector<HRESULT> answers;
        std::size_t steps;
        std::vector<std::string> released;
    } rows[] = {
        {{DD_OK, DDERR_OUTOFMEMORY}, 6, {"primary.Release()", "dd.Release()"}},
        {{DD_OK, DD_OK, DDERR_INVALIDPIXELFORMAT}, 7, {"primary.Release()", "work.Release()", "dd.Release()"}},
    };
    for (const Row& row : rows) {
        script.calls.clear();
        g_boxes.clear();
        script.Answer("dd.CreateSurface", row.answers);
        directDraw.SetSurfaces({&primary, &work, &pattern});
        int quit = 0;
        EXPECT_EQ(row.answers.back(), Start(quit));
        const std::vector<std::string> all = SetUpCalls();
        const std::vector<std::string> steps(all.begin(), all.begin() + row.steps);
        EXPECT_EQ(Concat(steps, row.released), script.calls);
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ("CreateSurface FAILED", g_boxes[0].text);
        EXPECT_EQ(0, quit);
    }
}

TEST_F(DisplaySetUp, NoRulerImageOrNoTimerEndsThroughTheMessageLoop) {
    const std::vector<std::string> everything{"primary.Release()", "work.Release()", "pattern.Release()",
                                              "palette.Release()", "dd.Release()"};
    {
        SCOPED_TRACE("no ruler image");
        VELMARO_HOOK(LoadImageA, NoImage);
        int quit = 0;
        EXPECT_EQ(0, Start(quit));
        EXPECT_EQ(Concat(SetUpCalls(), everything), script.calls);
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ("InitSurfaces FAILED", g_boxes[0].text);
        EXPECT_EQ(0, quit);
    }
    for (UINT_PTR timerResult : {UINT_PTR{0}, UINT_PTR{2}}) {
        SCOPED_TRACE("SetTimer answers " + std::to_string(timerResult));
        script.calls.clear();
        g_boxes.clear();
        g_timerResults = {timerResult};
        directDraw.SetSurfaces({&primary, &work, &pattern});
        // Through WinMain: the loop gets the quit message first and ends with its code.
        char arguments[] = "";
        EXPECT_EQ(0, WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL));
        EXPECT_EQ(Concat(Concat(Concat(SetUpCalls(), kLoadRuler), kTimer), everything), script.calls);
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ("SetTimer FAILED", g_boxes[0].text);
    }
}

TEST_F(DisplaySetUp, MissingDirectDrawLibraryIsReportedAsStepOne) {
    VELMARO_HOOK(LoadLibraryA, MissingLibrary);
    int quit = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), Start(quit));
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(kNoDirectDraw, g_boxes[0].text);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(0, quit);
    // WinMain ends at once with 0 on a failure that carries a code.
    g_boxes.clear();
    char arguments[] = "-x800";
    EXPECT_EQ(0, WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL));
    EXPECT_EQ(1u, g_boxes.size());
}

TEST_F(DisplaySetUp, LongReportIsCutToTheBuffer) {
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const std::string longText(300, 'x');
    EXPECT_EQ(E_FAIL, ReportInitFailure(window, E_FAIL, "%s and %d", longText.c_str(), 5));
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(std::string(127, 'x'), g_boxes[0].text);
    EXPECT_FALSE(IsWindow(window));
}

class Release : public DisplaySetUp {};

TEST_F(Release, WithNothingMadeOrTwiceDoesNothing) {
    ReleaseDisplayObjects();
    EXPECT_TRUE(script.calls.empty());
    // Without the DirectDraw object nothing is touched, whatever else is set.
    g_primarySurface = &primary;
    ReleaseDisplayObjects();
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(&primary, g_primarySurface);

    g_directDraw = &directDraw;
    g_backBuffer = &back;
    g_workSurface = &work;
    g_patternSurface = &pattern;
    g_palette = &palette;
    ReleaseDisplayObjects();
    ReleaseDisplayObjects();
    EXPECT_EQ((std::vector<std::string>{"primary.Release()", "work.Release()", "pattern.Release()", "palette.Release()",
                                        "dd.Release()"}),
              script.calls);
    EXPECT_TRUE(g_directDraw == nullptr && g_primarySurface == nullptr && g_workSurface == nullptr &&
                g_patternSurface == nullptr && g_palette == nullptr);
}

}  // namespace
