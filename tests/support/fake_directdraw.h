// Test doubles of DirectDraw's objects. Every call is written to one shared log as
// "object.Method(arguments)", and answers come from a script: a queue of results per
// "object.Method", DD_OK once the queue is empty.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class DirectDrawScript {
public:
    std::vector<std::string> calls;

    void Answer(const std::string& call, std::vector<HRESULT> results);
    // Called after the call is logged and before it answers.
    void OnCall(const std::string& call, std::function<void()> action);

    HRESULT Record(const std::string& object, const std::string& method, const std::string& arguments = "");
    std::vector<std::string> CallsTo(const std::string& prefix) const;
    std::string Joined() const;

private:
    std::map<std::string, std::deque<HRESULT>> answers_;
    std::map<std::string, std::function<void()>> actions_;
};

std::string RectText(const RECT* rect);

class FakePalette : public IDirectDrawPalette {
public:
    FakePalette(DirectDrawScript& script, std::string name) : script_(script), name_(std::move(name)) {}

    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetCaps)(LPDWORD) override { return DD_OK; }
    STDMETHOD(GetEntries)(DWORD, DWORD, DWORD, LPPALETTEENTRY) override { return DD_OK; }
    STDMETHOD(Initialize)(LPDIRECTDRAW, DWORD, LPPALETTEENTRY) override { return DD_OK; }
    STDMETHOD(SetEntries)(DWORD, DWORD, DWORD, LPPALETTEENTRY) override { return DD_OK; }

private:
    DirectDrawScript& script_;
    std::string name_;
};

class FakeSurface : public IDirectDrawSurface7 {
public:
    FakeSurface(DirectDrawScript& script, std::string name, DWORD width = 0, DWORD height = 0)
        : script_(script), name_(std::move(name)), width_(width), height_(height) {}
    const std::string& Name() const { return name_; }
    void SetAttached(FakeSurface* attached) { attached_ = attached; }
    // The context that GetDC hands out.
    void SetDC(HDC dc) { dc_ = dc; }

    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(AddAttachedSurface)(LPDIRECTDRAWSURFACE7) override { return Unexpected("AddAttachedSurface"); }
    STDMETHOD(AddOverlayDirtyRect)(LPRECT) override { return Unexpected("AddOverlayDirtyRect"); }
    STDMETHOD(Blt)(LPRECT, LPDIRECTDRAWSURFACE7, LPRECT, DWORD, LPDDBLTFX) override { return Unexpected("Blt"); }
    STDMETHOD(BltBatch)(LPDDBLTBATCH, DWORD, DWORD) override { return Unexpected("BltBatch"); }
    STDMETHOD(BltFast)(DWORD x, DWORD y, LPDIRECTDRAWSURFACE7 source, LPRECT rect, DWORD flags) override;
    STDMETHOD(DeleteAttachedSurface)(DWORD, LPDIRECTDRAWSURFACE7) override {
        return Unexpected("DeleteAttachedSurface");
    }
    STDMETHOD(EnumAttachedSurfaces)(LPVOID, LPDDENUMSURFACESCALLBACK7) override {
        return Unexpected("EnumAttachedSurfaces");
    }
    STDMETHOD(EnumOverlayZOrders)(DWORD, LPVOID, LPDDENUMSURFACESCALLBACK7) override {
        return Unexpected("EnumOverlayZOrders");
    }
    STDMETHOD(Flip)(LPDIRECTDRAWSURFACE7 target, DWORD flags) override;
    STDMETHOD(GetAttachedSurface)(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* attached) override;
    STDMETHOD(GetBltStatus)(DWORD) override { return Unexpected("GetBltStatus"); }
    STDMETHOD(GetCaps)(LPDDSCAPS2) override { return Unexpected("GetCaps"); }
    STDMETHOD(GetClipper)(LPDIRECTDRAWCLIPPER*) override { return Unexpected("GetClipper"); }
    STDMETHOD(GetColorKey)(DWORD, LPDDCOLORKEY) override { return Unexpected("GetColorKey"); }
    STDMETHOD(GetDC)(HDC* dc) override;
    STDMETHOD(GetFlipStatus)(DWORD) override { return Unexpected("GetFlipStatus"); }
    STDMETHOD(GetOverlayPosition)(LPLONG, LPLONG) override { return Unexpected("GetOverlayPosition"); }
    STDMETHOD(GetPalette)(LPDIRECTDRAWPALETTE*) override { return Unexpected("GetPalette"); }
    STDMETHOD(GetPixelFormat)(LPDDPIXELFORMAT) override { return Unexpected("GetPixelFormat"); }
    STDMETHOD(GetSurfaceDesc)(LPDDSURFACEDESC2 desc) override;
    STDMETHOD(Initialize)(LPDIRECTDRAW, LPDDSURFACEDESC2) override { return Unexpected("Initialize"); }
    STDMETHOD(IsLost)() override { return Unexpected("IsLost"); }
    STDMETHOD(Lock)(LPRECT, LPDDSURFACEDESC2, DWORD, HANDLE) override { return Unexpected("Lock"); }
    STDMETHOD(ReleaseDC)(HDC dc) override;
    STDMETHOD(Restore)() override { return script_.Record(name_, "Restore"); }
    STDMETHOD(SetClipper)(LPDIRECTDRAWCLIPPER) override { return Unexpected("SetClipper"); }
    STDMETHOD(SetColorKey)(DWORD, LPDDCOLORKEY) override { return Unexpected("SetColorKey"); }
    STDMETHOD(SetOverlayPosition)(LONG, LONG) override { return Unexpected("SetOverlayPosition"); }
    STDMETHOD(SetPalette)(LPDIRECTDRAWPALETTE palette) override;
    STDMETHOD(Unlock)(LPRECT) override { return Unexpected("Unlock"); }
    STDMETHOD(UpdateOverlay)(LPRECT, LPDIRECTDRAWSURFACE7, LPRECT, DWORD, LPDDOVERLAYFX) override {
        return Unexpected("UpdateOverlay");
    }
    STDMETHOD(UpdateOverlayDisplay)(DWORD) override { return Unexpected("UpdateOverlayDisplay"); }
    STDMETHOD(UpdateOverlayZOrder)(DWORD, LPDIRECTDRAWSURFACE7) override { return Unexpected("UpdateOverlayZOrder"); }
    STDMETHOD(GetDDInterface)(LPVOID*) override { return Unexpected("GetDDInterface"); }
    STDMETHOD(PageLock)(DWORD) override { return Unexpected("PageLock"); }
    STDMETHOD(PageUnlock)(DWORD) override { return Unexpected("PageUnlock"); }
    STDMETHOD(SetSurfaceDesc)(LPDDSURFACEDESC2, DWORD) override { return Unexpected("SetSurfaceDesc"); }
    STDMETHOD(SetPrivateData)(REFGUID, LPVOID, DWORD, DWORD) override { return Unexpected("SetPrivateData"); }
    STDMETHOD(GetPrivateData)(REFGUID, LPVOID, LPDWORD) override { return Unexpected("GetPrivateData"); }
    STDMETHOD(FreePrivateData)(REFGUID) override { return Unexpected("FreePrivateData"); }
    STDMETHOD(GetUniquenessValue)(LPDWORD) override { return Unexpected("GetUniquenessValue"); }
    STDMETHOD(ChangeUniquenessValue)() override { return Unexpected("ChangeUniquenessValue"); }
    STDMETHOD(SetPriority)(DWORD) override { return Unexpected("SetPriority"); }
    STDMETHOD(GetPriority)(LPDWORD) override { return Unexpected("GetPriority"); }
    STDMETHOD(SetLOD)(DWORD) override { return Unexpected("SetLOD"); }
    STDMETHOD(GetLOD)(LPDWORD) override { return Unexpected("GetLOD"); }

private:
    HRESULT Unexpected(const char* method) { return script_.Record(name_, std::string("UNEXPECTED ") + method); }

    DirectDrawScript& script_;
    std::string name_;
    DWORD width_, height_;
    FakeSurface* attached_ = nullptr;
    HDC dc_ = nullptr;
};

class FakeDirectDraw : public IDirectDraw7 {
public:
    explicit FakeDirectDraw(DirectDrawScript& script) : script_(script) {}
    // CreateSurface hands these out in order.
    void SetSurfaces(std::vector<FakeSurface*> surfaces) {
        surfaces_ = std::move(surfaces);
        nextSurface_ = 0;
    }
    void SetPalette(FakePalette* palette) { palette_ = palette; }
    // The 256 entries of the last CreatePalette call.
    const std::vector<PALETTEENTRY>& PaletteEntries() const { return entries_; }

    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(Compact)() override { return Unexpected("Compact"); }
    STDMETHOD(CreateClipper)(DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*) override { return Unexpected("CreateClipper"); }
    STDMETHOD(CreatePalette)
    (DWORD flags, LPPALETTEENTRY entries, LPDIRECTDRAWPALETTE* palette, IUnknown* outer) override;
    STDMETHOD(CreateSurface)(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface, IUnknown* outer) override;
    STDMETHOD(DuplicateSurface)(LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7*) override {
        return Unexpected("DuplicateSurface");
    }
    STDMETHOD(EnumDisplayModes)(DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMMODESCALLBACK2) override {
        return Unexpected("EnumDisplayModes");
    }
    STDMETHOD(EnumSurfaces)(DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7) override {
        return Unexpected("EnumSurfaces");
    }
    STDMETHOD(FlipToGDISurface)() override { return Unexpected("FlipToGDISurface"); }
    STDMETHOD(GetCaps)(LPDDCAPS, LPDDCAPS) override { return Unexpected("GetCaps"); }
    STDMETHOD(GetDisplayMode)(LPDDSURFACEDESC2) override { return Unexpected("GetDisplayMode"); }
    STDMETHOD(GetFourCCCodes)(LPDWORD, LPDWORD) override { return Unexpected("GetFourCCCodes"); }
    STDMETHOD(GetGDISurface)(LPDIRECTDRAWSURFACE7*) override { return Unexpected("GetGDISurface"); }
    STDMETHOD(GetMonitorFrequency)(LPDWORD) override { return Unexpected("GetMonitorFrequency"); }
    STDMETHOD(GetScanLine)(LPDWORD) override { return Unexpected("GetScanLine"); }
    STDMETHOD(GetVerticalBlankStatus)(BOOL*) override { return Unexpected("GetVerticalBlankStatus"); }
    STDMETHOD(Initialize)(GUID*) override { return Unexpected("Initialize"); }
    STDMETHOD(RestoreDisplayMode)() override { return Unexpected("RestoreDisplayMode"); }
    STDMETHOD(SetCooperativeLevel)(HWND window, DWORD flags) override;
    STDMETHOD(SetDisplayMode)(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) override;
    STDMETHOD(WaitForVerticalBlank)(DWORD, HANDLE) override { return Unexpected("WaitForVerticalBlank"); }
    STDMETHOD(GetAvailableVidMem)(LPDDSCAPS2, LPDWORD, LPDWORD) override { return Unexpected("GetAvailableVidMem"); }
    STDMETHOD(GetSurfaceFromDC)(HDC, LPDIRECTDRAWSURFACE7*) override { return Unexpected("GetSurfaceFromDC"); }
    STDMETHOD(RestoreAllSurfaces)() override { return Unexpected("RestoreAllSurfaces"); }
    STDMETHOD(TestCooperativeLevel)() override { return Unexpected("TestCooperativeLevel"); }
    STDMETHOD(GetDeviceIdentifier)(LPDDDEVICEIDENTIFIER2, DWORD) override { return Unexpected("GetDeviceIdentifier"); }
    STDMETHOD(StartModeTest)(LPSIZE, DWORD, DWORD) override { return Unexpected("StartModeTest"); }
    STDMETHOD(EvaluateMode)(DWORD, DWORD*) override { return Unexpected("EvaluateMode"); }

private:
    HRESULT Unexpected(const char* method) { return script_.Record("dd", std::string("UNEXPECTED ") + method); }

    DirectDrawScript& script_;
    std::vector<FakeSurface*> surfaces_;
    std::size_t nextSurface_ = 0;
    FakePalette* palette_ = nullptr;
    std::vector<PALETTEENTRY> entries_;
};
