#include "tests/support/fake_directdraw.h"

#include <cstdio>

namespace {

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

std::string NameOf(IDirectDrawSurface7* surface) {
    return surface == nullptr ? "null" : static_cast<FakeSurface*>(surface)->Name();
}

}  // namespace

void DirectDrawScript::Answer(const std::string& call, std::vector<HRESULT> results) {
    answers_[call].assign(results.begin(), results.end());
}

void DirectDrawScript::OnCall(const std::string& call, std::function<void()> action) {
    actions_[call] = std::move(action);
}

HRESULT DirectDrawScript::Record(const std::string& object, const std::string& method, const std::string& arguments) {
    const std::string call = object + "." + method;
    calls.push_back(call + "(" + arguments + ")");
    auto action = actions_.find(call);
    if (action != actions_.end()) action->second();
    auto queue = answers_.find(call);
    if (queue == answers_.end() || queue->second.empty()) return DD_OK;
    const HRESULT result = queue->second.front();
    queue->second.pop_front();
    return result;
}

std::vector<std::string> DirectDrawScript::CallsTo(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
    return matching;
}

std::string DirectDrawScript::Joined() const {
    std::string text;
    for (const std::string& call : calls) text += call + "\n";
    return text;
}

std::string RectText(const RECT* rect) {
    if (rect == nullptr) return "null";
    return std::to_string(rect->left) + "," + std::to_string(rect->top) + "," + std::to_string(rect->right) + "," +
           std::to_string(rect->bottom);
}

ULONG FakePalette::Release() {
    script_.Record(name_, "Release");
    return 0;
}

ULONG FakeSurface::Release() {
    script_.Record(name_, "Release");
    return 0;
}

HRESULT FakeSurface::BltFast(DWORD x, DWORD y, LPDIRECTDRAWSURFACE7 source, LPRECT rect, DWORD flags) {
    return script_.Record(
        name_, "BltFast",
        std::to_string(x) + "," + std::to_string(y) + "," + NameOf(source) + ",[" + RectText(rect) + "]," + Hex(flags));
}

HRESULT FakeSurface::Flip(LPDIRECTDRAWSURFACE7 target, DWORD flags) {
    return script_.Record(name_, "Flip", NameOf(target) + "," + Hex(flags));
}

HRESULT FakeSurface::GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* attached) {
    const HRESULT result = script_.Record(
        name_, "GetAttachedSurface",
        Hex(caps->dwCaps) + "," + Hex(caps->dwCaps2) + "," + Hex(caps->dwCaps3) + "," + Hex(caps->dwCaps4));
    if (result == DD_OK) *attached = attached_;
    return result;
}

HRESULT FakeSurface::GetDC(HDC* dc) {
    const HRESULT result = script_.Record(name_, "GetDC");
    if (result == DD_OK) *dc = dc_;
    return result;
}

HRESULT FakeSurface::ReleaseDC(HDC dc) {
    return script_.Record(name_, "ReleaseDC", dc == dc_ ? "its dc" : "another dc");
}

HRESULT FakeSurface::GetSurfaceDesc(LPDDSURFACEDESC2 desc) {
    const HRESULT result =
        script_.Record(name_, "GetSurfaceDesc", std::to_string(desc->dwSize) + "," + Hex(desc->dwFlags));
    desc->dwWidth = width_;
    desc->dwHeight = height_;
    return result;
}

HRESULT FakeSurface::SetPalette(LPDIRECTDRAWPALETTE palette) {
    return script_.Record(name_, "SetPalette", palette == nullptr ? "null" : "palette");
}

ULONG FakeDirectDraw::Release() {
    script_.Record("dd", "Release");
    return 0;
}

HRESULT FakeDirectDraw::CreatePalette(DWORD flags, LPPALETTEENTRY entries, LPDIRECTDRAWPALETTE* palette,
                                      IUnknown* outer) {
    entries_.assign(entries, entries + 256);
    const HRESULT result =
        script_.Record("dd", "CreatePalette", Hex(flags) + "," + (outer == nullptr ? "null" : "outer"));
    if (result == DD_OK) *palette = palette_;
    return result;
}

HRESULT FakeDirectDraw::CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface, IUnknown* outer) {
    const HRESULT result = script_.Record(
        "dd", "CreateSurface",
        std::to_string(desc->dwSize) + ",flags=" + Hex(desc->dwFlags) + ",caps=" + Hex(desc->ddsCaps.dwCaps) +
            ",back=" + std::to_string(desc->dwBackBufferCount) + "," + std::to_string(desc->dwWidth) + "x" +
            std::to_string(desc->dwHeight) + "," + (outer == nullptr ? "null" : "outer"));
    if (result != DD_OK) return result;
    *surface = nextSurface_ < surfaces_.size() ? surfaces_[nextSurface_++] : nullptr;
    return result;
}

HRESULT FakeDirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
    return script_.Record("dd", "SetCooperativeLevel", std::string(window ? "window" : "null") + "," + Hex(flags));
}

HRESULT FakeDirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) {
    return script_.Record("dd", "SetDisplayMode",
                          std::to_string(width) + "," + std::to_string(height) + "," + std::to_string(bpp) + "," +
                              std::to_string(refresh) + "," + Hex(flags));
}
