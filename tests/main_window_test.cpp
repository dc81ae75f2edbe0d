// The window procedure's five messages, the window it makes, and WinMain's early exits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/program.h"
#include "tests/support/import_hook.h"

VELMARO_IMPORT_SLOT(DefWindowProcA)
VELMARO_IMPORT_SLOT(PostMessageA)
VELMARO_IMPORT_SLOT(PostQuitMessage)
VELMARO_IMPORT_SLOT(SetCursor)
VELMARO_IMPORT_SLOT(MessageBoxA)
VELMARO_IMPORT_SLOT(RegisterClassA)
VELMARO_IMPORT_SLOT(CreateWindowExA)
VELMARO_IMPORT_SLOT(ShowWindow)

namespace {

const HWND kWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));
constexpr LRESULT kDefaultResult = 0x5eed;

struct Call {
    std::string function;
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Call> g_calls;

LRESULT WINAPI FakeDefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_calls.push_back({"DefWindowProcA", hwnd, message, wParam, lParam});
    return kDefaultResult;
}
BOOL WINAPI FakePostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_calls.push_back({"PostMessageA", hwnd, message, wParam, lParam});
    return TRUE;
}
void WINAPI FakePostQuitMessage(int code) {
    g_calls.push_back({"PostQuitMessage", nullptr, WM_QUIT, static_cast<WPARAM>(code), 0});
}
HCURSOR WINAPI FakeSetCursor(HCURSOR cursor) {
    g_calls.push_back({"SetCursor", nullptr, 0, reinterpret_cast<WPARAM>(cursor), 0});
    return nullptr;
}

class WindowProcedure : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_appActive = 0;
    }
    void TearDown() override { g_appActive = 0; }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return MainWndProc(kWindow, message, wParam, lParam);
    }

    VELMARO_HOOK(DefWindowProcA, FakeDefWindowProc);
    VELMARO_HOOK(PostMessageA, FakePostMessage);
    VELMARO_HOOK(PostQuitMessage, FakePostQuitMessage);
    VELMARO_HOOK(SetCursor, FakeSetCursor);
};

void ExpectOnlyDefaultProcessing(UINT message, WPARAM wParam, LPARAM lParam) {
    ASSERT_EQ(1u, g_calls.size()) << "calls made: " << g_calls.size();
    EXPECT_EQ("DefWindowProcA", g_calls[0].function);
    EXPECT_EQ(kWindow, g_calls[0].hwnd);
    EXPECT_EQ(message, g_calls[0].message);
    EXPECT_EQ(wParam, g_calls[0].wParam);
    EXPECT_EQ(lParam, g_calls[0].lParam);
}

TEST_F(WindowProcedure, ActivateFollowsTheMinimizedStateOnly) {
    struct Case {
        WORD state, minimized;
        int expected;
    } cases[] = {
        {WA_ACTIVE, 0, 1},   {WA_INACTIVE, 0, 1}, {WA_CLICKACTIVE, 0, 1}, {WA_ACTIVE, 1, 0},
        {WA_INACTIVE, 1, 0}, {WA_INACTIVE, 0, 1}, {WA_ACTIVE, 0xffff, 0},
    };
    for (const Case& c : cases) {
        g_calls.clear();
        EXPECT_EQ(0, Send(WM_ACTIVATE, MAKEWPARAM(c.state, c.minimized)));
        EXPECT_EQ(c.expected, g_appActive) << "state " << c.state << " minimized " << c.minimized;
        EXPECT_TRUE(g_calls.empty()) << "WM_ACTIVATE got default processing";
    }
}

TEST_F(WindowProcedure, EscapeAndF12PostCloseOtherKeysGetDefaultProcessing) {
    for (WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_F12}}) {
        g_calls.clear();
        EXPECT_EQ(0, Send(WM_KEYDOWN, key, 0x10001));
        ASSERT_EQ(1u, g_calls.size()) << "key " << key;
        EXPECT_EQ("PostMessageA", g_calls[0].function);
        EXPECT_EQ(kWindow, g_calls[0].hwnd);
        EXPECT_EQ(static_cast<UINT>(WM_CLOSE), g_calls[0].message);
        EXPECT_EQ(0u, g_calls[0].wParam);
        EXPECT_EQ(0, g_calls[0].lParam);
    }
    for (WPARAM key : {WPARAM{VK_RETURN}, WPARAM{VK_F11}, WPARAM{'Q'}, WPARAM{VK_SPACE}, WPARAM{0x7C}}) {
        g_calls.clear();
        EXPECT_EQ(kDefaultResult, Send(WM_KEYDOWN, key, 0x20001)) << "key " << key;
        ExpectOnlyDefaultProcessing(WM_KEYDOWN, key, 0x20001);
    }
}

TEST_F(WindowProcedure, SetCursorHidesThePointerAndAnswersOne) {
    EXPECT_EQ(1, Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(kWindow), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_EQ("SetCursor", g_calls[0].function);
    EXPECT_EQ(0u, g_calls[0].wParam) << "cursor passed to SetCursor";
}

TEST_F(WindowProcedure, TimerAlwaysReachesDefaultProcessing) {
    for (int active : {0, 1}) {
        for (WPARAM id : {WPARAM{2}, WPARAM{0}, WPARAM{77}}) {
            g_appActive = active;
            g_calls.clear();
            EXPECT_EQ(kDefaultResult, Send(WM_TIMER, id, 0x99));
            ExpectOnlyDefaultProcessing(WM_TIMER, id, 0x99);
        }
    }
    g_calls.clear();
    EXPECT_EQ(kDefaultResult, Send(WM_TIMER, 1, 0));
    ExpectOnlyDefaultProcessing(WM_TIMER, 1, 0);
}

TEST_F(WindowProcedure, DestroyPostsQuitWithZero) {
    EXPECT_EQ(0, Send(WM_DESTROY));
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_EQ("PostQuitMessage", g_calls[0].function);
    EXPECT_EQ(0u, g_calls[0].wParam);
}

TEST_F(WindowProcedure, OtherMessagesPassThroughUnchanged) {
    for (UINT message : {UINT{WM_CLOSE}, UINT{WM_PAINT}, UINT{WM_ACTIVATEAPP}, UINT{WM_KEYUP}, UINT{WM_SYSKEYDOWN}}) {
        g_calls.clear();
        EXPECT_EQ(kDefaultResult, Send(message, 0x1B, 0x1234));
        ExpectOnlyDefaultProcessing(message, 0x1B, 0x1234);
    }
}

// --- the window that InitApplication makes, and WinMain's exits before any loop ---

struct WindowRequest {
    int registered = 0;
    WNDCLASSA windowClass{};
    int created = 0;
    DWORD exStyle = 0, style = 0;
    std::string className, title;
    int x = -1, y = -1, width = -1, height = -1;
    HWND parent = kWindow;
    HMENU menu = reinterpret_cast<HMENU>(1);
    HINSTANCE instance = nullptr;
    void* param = kWindow;
    int shown = 0;
    std::vector<std::string> boxes;
};
WindowRequest g_request;

ATOM WINAPI FakeRegisterClass(const WNDCLASSA* windowClass) {
    ++g_request.registered;
    g_request.windowClass = *windowClass;
    return 1;
}
HWND WINAPI RefuseCreateWindow(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                               int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    ++g_request.created;
    g_request.exStyle = exStyle;
    g_request.className = className;
    g_request.title = title;
    g_request.style = style;
    g_request.x = x, g_request.y = y, g_request.width = width, g_request.height = height;
    g_request.parent = parent;
    g_request.menu = menu;
    g_request.instance = instance;
    g_request.param = param;
    return nullptr;
}
BOOL WINAPI FakeShowWindow(HWND, int) {
    ++g_request.shown;
    return FALSE;
}
int WINAPI FakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
    g_request.boxes.push_back(std::string(owner ? "owned" : "unowned") + "|" + text + "|" + caption + "|" +
                              std::to_string(flags));
    return IDOK;
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override { g_request = WindowRequest{}; }
    VELMARO_HOOK(RegisterClassA, FakeRegisterClass);
    VELMARO_HOOK(CreateWindowExA, RefuseCreateWindow);
    VELMARO_HOOK(ShowWindow, FakeShowWindow);
    VELMARO_HOOK(MessageBoxA, FakeMessageBox);
};

TEST_F(StartUp, WindowClassAndWindowAreAsThePictureNeeds) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    EXPECT_NE(0, InitApplication(instance, SW_SHOWNORMAL));

    ASSERT_EQ(1, g_request.registered);
    const WNDCLASSA& wc = g_request.windowClass;
    EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), wc.style);
    EXPECT_EQ(&MainWndProc, wc.lpfnWndProc);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(0, wc.cbWndExtra);
    EXPECT_EQ(instance, wc.hInstance);
    EXPECT_EQ(nullptr, wc.hIcon);
    EXPECT_EQ(nullptr, wc.hCursor);
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), wc.hbrBackground);
    EXPECT_STREQ("Quindel", wc.lpszMenuName);
    EXPECT_STREQ("Quindel", wc.lpszClassName);

    ASSERT_EQ(1, g_request.created);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_TOPMOST), g_request.exStyle);
    EXPECT_EQ("Quindel", g_request.className);
    EXPECT_EQ("Velmaro", g_request.title);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP), g_request.style);
    EXPECT_EQ(0, g_request.x);
    EXPECT_EQ(0, g_request.y);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), g_request.width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), g_request.height);
    EXPECT_EQ(nullptr, g_request.parent);
    EXPECT_EQ(nullptr, g_request.menu);
    EXPECT_EQ(instance, g_request.instance);
    EXPECT_EQ(nullptr, g_request.param);
}

TEST_F(StartUp, NoWindowMeansSilentEndWithZero) {
    char arguments[] = "";
    EXPECT_EQ(0, WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL));
    EXPECT_EQ(1, g_request.created);
    EXPECT_EQ(0, g_request.shown) << "a window that was never made was shown";
    EXPECT_TRUE(g_request.boxes.empty()) << "first box: " << (g_request.boxes.empty() ? "" : g_request.boxes[0]);
}

TEST_F(StartUp, HeightAbove768WarnsOnceAndMakesNoWindow) {
    char arguments[] = "-y1024 -x800 -y769";
    EXPECT_EQ(0, WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL));
    ASSERT_EQ(1u, g_request.boxes.size());
    EXPECT_EQ("unowned|The vertical resolution is limited to 768 lines! Use a lower resolution.|Velmaro|48",
              g_request.boxes[0]);
    EXPECT_EQ(0, g_request.registered);
    EXPECT_EQ(0, g_request.created);
}

TEST_F(StartUp, HeightIsTestedOnlyAfterTheLastToken) {
    char arguments[] = "-y1024 -y768";
    EXPECT_EQ(0, WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL));
    EXPECT_TRUE(g_request.boxes.empty()) << "first box: " << (g_request.boxes.empty() ? "" : g_request.boxes[0]);
    EXPECT_EQ(1, g_request.created);
}

}  // namespace
