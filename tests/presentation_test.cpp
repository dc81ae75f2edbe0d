// Frames with test doubles of the surfaces: what ComposeFrame draws in each phase, the
// rule for DirectDraw's answers, surface-loss recovery and the timer's frame step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/presentation.h"
#include "app/command_line.h"
#include "app/program.h"
#include "display/display.h"
#include "tests/support/fake_directdraw.h"
#include "tests/support/import_hook.h"

VELMARO_IMPORT_SLOT(DefWindowProcA)
VELMARO_IMPORT_SLOT(LoadImageA)

namespace {

int g_defaultCalls = 0;
LRESULT WINAPI CountingDefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    ++g_defaultCalls;
    return 0x77;
}
int g_imageLoads = 0;
HANDLE WINAPI CountingNoImage(HINSTANCE, LPCSTR, UINT, int, int, UINT) {
    ++g_imageLoads;
    return nullptr;
}

class Frames : public ::testing::Test {
protected:
    void SetUp() override {
        g_screenWidth = 1024, g_screenHeight = 768, g_refreshRate = 0;
        g_markerPhase = 0;
        g_appActive = 1;
        g_directDraw = &directDraw;
        g_primarySurface = &primary;
        g_backBuffer = &back;
        g_workSurface = &work;
        g_patternSurface = &pattern;
        g_defaultCalls = g_imageLoads = 0;
    }
    void TearDown() override {
        g_directDraw = nullptr;
        g_primarySurface = g_backBuffer = g_workSurface = g_patternSurface = nullptr;
        g_appActive = 0;
        g_markerPhase = 0;
    }

    static std::string Blit(const std::string& target, int x, const std::string& source, const std::string& rect) {
        return target + ".BltFast(" + std::to_string(x) + ",0," + source + ",[" + rect + "],0x0)";
    }
    static std::string Marker(int x, int height = 768) {
        return Blit("work", x, "pattern", "0,0,5," + std::to_string(height));
    }
    static std::string Copy(int width = 1024, int height = 768) {
        return Blit("back", 0, "work", "0,0," + std::to_string(width) + "," + std::to_string(height));
    }
    LRESULT Tick(WPARAM id = 1) { return MainWndProc(reinterpret_cast<HWND>(1), WM_TIMER, id, 0); }

    DirectDrawScript script;
    FakeDirectDraw directDraw{script};
    FakeSurface primary{script, "primary"}, back{script, "back"}, work{script, "work"};
    FakeSurface pattern{script, "pattern", 330, 768};
    VELMARO_HOOK(DefWindowProcA, CountingDefWindowProc);
    VELMARO_HOOK(LoadImageA, CountingNoImage);
};

TEST_F(Frames, PhaseZeroDrawsTilesRulerAndMarkersOnTheEdgeStrips) {
    EXPECT_EQ(DD_OK, ComposeFrame());
    std::vector<std::string> expected;
    for (int i = 0; i < 128; ++i) expected.push_back(Blit("work", 8 * i, "pattern", "5,0,13,768"));
    expected.push_back(Blit("work", 347, "pattern", "0,0,330,768"));
    expected.push_back(Marker(347));
    expected.push_back(Marker(672));
    expected.push_back(Copy());
    EXPECT_EQ(expected, script.calls);
    EXPECT_EQ(1, g_markerPhase);
}

TEST_F(Frames, PhasesOneToFourAddBarsTenColumnsFurtherOut) {
    g_markerPhase = 1;
    for (int phase = 1; phase <= 4; ++phase) {
        script.calls.clear();
        EXPECT_EQ(DD_OK, ComposeFrame());
        EXPECT_EQ((std::vector<std::string>{Marker(347 - 10 * phase), Marker(672 + 10 * phase), Copy()}), script.calls)
            << "phase " << phase;
    }
    EXPECT_EQ(0, g_markerPhase) << "five frames make a cycle";
    EXPECT_EQ(Marker(307), script.calls[0]);
    EXPECT_EQ(Marker(712), script.calls[1]);
}

TEST_F(Frames, RulerSitsHalfAColumnLeftOnOddMarginsAndTilesAreWhole) {
    g_screenWidth = 1023;
    ComposeFrame();
    EXPECT_EQ(127u, script.CallsTo("work.BltFast").size() - 3) << "1023 columns hold 127 whole tiles";
    EXPECT_EQ(1u, script.CallsTo(Blit("work", 346, "pattern", "0,0,330,768")).size()) << script.Joined();
    g_screenWidth = 1020;
    g_markerPhase = 0;
    script.calls.clear();
    ComposeFrame();
    EXPECT_EQ(Blit("work", 1008, "pattern", "5,0,13,768"), script.calls[126]) << "the last tile ends at 1015";
    EXPECT_EQ(Blit("work", 345, "pattern", "0,0,330,768"), script.calls[127]);
}

TEST_F(Frames, ShortScreensUseTheTopLinesOnly) {
    g_screenWidth = 800, g_screenHeight = 600;
    ComposeFrame();
    EXPECT_EQ(Blit("work", 0, "pattern", "5,0,13,600"), script.calls.front());
    EXPECT_EQ(1u, script.CallsTo(Blit("work", 235, "pattern", "0,0,330,600")).size());
    EXPECT_EQ(Copy(800, 600), script.calls.back());
}

// Every blit onto the work surface, at every width and phase, stays inside it and
// takes its columns from inside the pattern.
TEST_F(Frames, NarrowScreensNeverDrawOutsideTheWorkSurface) {
    for (int width = 1; width <= 420; ++width) {
        g_screenWidth = width;
        g_screenHeight = 100;
        for (int phase = 0; phase < 5; ++phase) {
            script.calls.clear();
            g_markerPhase = phase;
            ComposeFrame();
            for (const std::string& call : script.CallsTo("work.BltFast")) {
                int x = 0, y = 0, left = 0, top = 0, right = 0, bottom = 0;
                ASSERT_EQ(6, std::sscanf(call.c_str(), "work.BltFast(%d,%d,pattern,[%d,%d,%d,%d]", &x, &y, &left, &top,
                                         &right, &bottom))
                    << call;
                EXPECT_TRUE(x >= 0 && x + (right - left) <= width && left >= 0 && left < right && right <= 330)
                    << "width " << width << " phase " << phase << ": " << call;
            }
        }
    }
    // The ruler of a 300-column screen loses 15 columns on each side.
    g_screenWidth = 300;
    g_markerPhase = 0;
    script.calls.clear();
    ComposeFrame();
    EXPECT_EQ(1u, script.CallsTo(Blit("work", 0, "pattern", "15,0,315,100")).size()) << script.Joined();
}

TEST_F(Frames, StillDrawingIsRepeatedAtOnceUntilItGoes) {
    int calls = 0;
    std::vector<HRESULT> answers{DDERR_WASSTILLDRAWING, DDERR_WASSTILLDRAWING, DDERR_WASSTILLDRAWING, DD_OK};
    EXPECT_EQ(DD_OK, RetrySurfaceCall([&] { return answers[calls++]; }));
    EXPECT_EQ(4, calls);
    EXPECT_TRUE(script.calls.empty()) << "recovered without a lost surface";

    calls = 0;
    answers = {DDERR_WASSTILLDRAWING, DDERR_INVALIDRECT};
    EXPECT_EQ(DDERR_INVALIDRECT, RetrySurfaceCall([&] { return answers[calls++]; }));
    EXPECT_EQ(2, calls);
}

TEST_F(Frames, LostSurfaceIsRecoveredNotRepeated) {
    int calls = 0;
    std::vector<HRESULT> answers{DDERR_WASSTILLDRAWING, DDERR_SURFACELOST};
    EXPECT_EQ(DD_OK, RetrySurfaceCall([&] { return answers[calls++]; }));
    EXPECT_EQ(2, calls);
    EXPECT_EQ((std::vector<std::string>{"primary.Restore()", "work.Restore()", "pattern.Restore()"}), script.calls);
    EXPECT_EQ(1, g_imageLoads);

    // Any other failure stops at once.
    calls = 0;
    script.calls.clear();
    EXPECT_EQ(DDERR_GENERIC, RetrySurfaceCall([&] {
                  ++calls;
                  return DDERR_GENERIC;
              }));
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(Frames, RecoveryRestoresInOrderAndStopsAtTheFirstFailure) {
    EXPECT_EQ(DD_OK, RecoverLostSurfaces());
    EXPECT_EQ((std::vector<std::string>{"primary.Restore()", "work.Restore()", "pattern.Restore()"}), script.calls);
    EXPECT_EQ(1, g_imageLoads) << "the ruler is loaded again even though it then fails";

    // A wrong mode is mended for the primary surface only (below).
    const char* surfaces[] = {"primary", "work", "pattern"};
    for (HRESULT code : {DDERR_NOEXCLUSIVEMODE, DDERR_WRONGMODE}) {
        for (std::size_t failing = 0; failing < 3; ++failing) {
            if (code == DDERR_WRONGMODE && failing == 0) continue;
            script.calls.clear();
            g_imageLoads = 0;
            script.Answer(std::string(surfaces[failing]) + ".Restore", {code});
            EXPECT_EQ(code, RecoverLostSurfaces()) << surfaces[failing];
            EXPECT_EQ(failing + 1, script.calls.size()) << surfaces[failing] << ":\n" << script.Joined();
            EXPECT_EQ(0, g_imageLoads) << "the image was reloaded after a failed restore";
        }
    }
}

TEST_F(Frames, PrimaryInTheWrongModeGetsTheProgramsModeBack) {
    g_screenWidth = 800, g_screenHeight = 600, g_refreshRate = 75;
    const std::string setMode = "dd.SetDisplayMode(800,600,8,75,0x0)";
    script.Answer("primary.Restore", {DDERR_WRONGMODE});
    EXPECT_EQ(DD_OK, RecoverLostSurfaces());
    EXPECT_EQ((std::vector<std::string>{"primary.Restore()", setMode, "primary.Restore()", "work.Restore()",
                                        "pattern.Restore()"}),
              script.calls);
    EXPECT_EQ(1, g_imageLoads);

    // The mode refused: the restore's answer, and nothing more.
    script.calls.clear();
    g_imageLoads = 0;
    script.Answer("primary.Restore", {DDERR_WRONGMODE});
    script.Answer("dd.SetDisplayMode", {DDERR_INVALIDMODE});
    EXPECT_EQ(DDERR_WRONGMODE, RecoverLostSurfaces());
    EXPECT_EQ((std::vector<std::string>{"primary.Restore()", setMode}), script.calls);
    EXPECT_EQ(0, g_imageLoads);

    // Still the wrong mode after it was set: one try per recovery.
    script.calls.clear();
    script.Answer("primary.Restore", {DDERR_WRONGMODE, DDERR_WRONGMODE});
    EXPECT_EQ(DDERR_WRONGMODE, RecoverLostSurfaces());
    EXPECT_EQ((std::vector<std::string>{"primary.Restore()", setMode, "primary.Restore()"}), script.calls);
    EXPECT_EQ(0, g_imageLoads);

    // The second restore's own failure is the result.
    script.calls.clear();
    script.Answer("primary.Restore", {DDERR_WRONGMODE, DDERR_NOEXCLUSIVEMODE});
    EXPECT_EQ(DDERR_NOEXCLUSIVEMODE, RecoverLostSurfaces());
    EXPECT_EQ(3u, script.calls.size()) << script.Joined();
    EXPECT_EQ(0, g_imageLoads);
}

TEST_F(Frames, LostSurfaceDuringTheCopyLeavesTheBackBufferAlone) {
    g_markerPhase = 2;
    script.Answer("back.BltFast", {DDERR_SURFACELOST});
    EXPECT_EQ(DD_OK, ComposeFrame());
    EXPECT_EQ(1u, script.CallsTo("back.BltFast").size());
    EXPECT_EQ(3, g_markerPhase);

    g_markerPhase = 2;
    script.calls.clear();
    script.Answer("back.BltFast", {DDERR_SURFACELOST});
    script.Answer("work.Restore", {DDERR_WRONGMODE});
    EXPECT_EQ(DDERR_WRONGMODE, ComposeFrame()) << "the first failing restore's code";
    EXPECT_EQ(3, g_markerPhase);
}

TEST_F(Frames, LostRulerBlitStillLetsMarkersAndCopyFollow) {
    // The 129th blit onto the work surface is the ruler's.
    std::vector<HRESULT> answers(128, DD_OK);
    answers.push_back(DDERR_SURFACELOST);
    script.Answer("work.BltFast", answers);
    EXPECT_EQ(DD_OK, ComposeFrame());
    EXPECT_EQ((std::vector<std::string>{Blit("work", 347, "pattern", "0,0,330,768"), "primary.Restore()",
                                        "work.Restore()", "pattern.Restore()", Marker(347), Marker(672), Copy()}),
              std::vector<std::string>(script.calls.begin() + 128, script.calls.end()));
}

TEST_F(Frames, BusyTilesAndMarkersAreLeftOutNotRepeated) {
    // Busy tiles, a ruler blit that is busy once, busy markers.
    std::vector<HRESULT> answers(129, DDERR_WASSTILLDRAWING);
    answers.insert(answers.end(), {DD_OK, DDERR_WASSTILLDRAWING, DDERR_WASSTILLDRAWING});
    script.Answer("work.BltFast", answers);
    ComposeFrame();
    EXPECT_EQ(128u + 2 + 2, script.CallsTo("work.BltFast").size()) << script.Joined();
    EXPECT_EQ(2u, script.CallsTo(Blit("work", 347, "pattern", "0,0,330,768")).size());
    EXPECT_EQ(Copy(), script.calls.back());
}

TEST_F(Frames, TimerMakesOneFrameAndOneFlipThenDefaultProcessing) {
    EXPECT_EQ(0x77, Tick());
    EXPECT_EQ(1, g_defaultCalls);
    EXPECT_EQ(1, g_markerPhase);
    EXPECT_EQ("primary.Flip(null,0x0)", script.calls.back());
    EXPECT_EQ(Copy(), script.calls[script.calls.size() - 2]);
}

TEST_F(Frames, NoFrameWhileInactiveOrForAnotherTimer) {
    g_appActive = 0;
    EXPECT_EQ(0x77, Tick());
    g_appActive = 1;
    EXPECT_EQ(0x77, Tick(2));
    EXPECT_EQ(0x77, Tick(0));
    EXPECT_TRUE(script.calls.empty()) << script.Joined();
    EXPECT_EQ(0, g_markerPhase);
    EXPECT_EQ(3, g_defaultCalls);
}

TEST_F(Frames, FlipIsRepeatedWhileStillDrawingAndDroppedOnOtherFailures) {
    script.Answer("primary.Flip", {DDERR_WASSTILLDRAWING, DDERR_WASSTILLDRAWING, DDERR_WASSTILLDRAWING, DD_OK});
    Tick();
    EXPECT_EQ(4u, script.CallsTo("primary.Flip").size());

    script.calls.clear();
    script.Answer("primary.Flip", {DDERR_SURFACELOST});
    Tick();
    EXPECT_EQ(1u, script.CallsTo("primary.Flip").size());
    EXPECT_EQ((std::vector<std::string>{"primary.Flip(null,0x0)", "primary.Restore()", "work.Restore()",
                                        "pattern.Restore()"}),
              std::vector<std::string>(script.calls.end() - 4, script.calls.end()));

    script.calls.clear();
    script.Answer("primary.Flip", {DDERR_NOFLIPHW});
    Tick();
    EXPECT_EQ(1u, script.CallsTo("primary.Flip").size());
    EXPECT_EQ(3, g_markerPhase) << "the phase advances whether or not the frame is shown";
    EXPECT_EQ(3, g_defaultCalls);
}

TEST_F(Frames, FailedCopyStillFlipsAndAdvances) {
    script.Answer("back.BltFast", {DDERR_INVALIDRECT});
    Tick();
    EXPECT_EQ("primary.Flip(null,0x0)", script.calls.back());
    EXPECT_EQ(1, g_markerPhase);
}

TEST_F(Frames, NoDisplayMeansNoFrame) {
    g_primarySurface = nullptr;
    EXPECT_EQ(0x77, Tick());
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(0, g_markerPhase);
}

}  // namespace
