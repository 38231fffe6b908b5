// Window subclassing and the mouse services that hover tracking relies on.
//
// The subclassing library delivers chosen window messages of a widget to a
// callback object. Messages come from Qt events seen by an event filter:
// mouse moves and button presses and releases (client coordinates packed in
// lParam, button and key state in wParam), WM_ACTIVATE from window
// (de)activation, and the hover and leave notifications that TrackMouseEvent
// posts. A callback's MsgResponse tells how the widget's own handling is
// ordered: 0 the callback consumes the message, 1 the widget handles it
// first, 2 the callback sees it first and the widget still handles it.
#pragma once

#include <cstdint>

#include "platform/qt/TooltipWindow.h"  // window handle and record types

namespace platform {

enum : uint32_t {
    WM_ACTIVATE = 6,
    WM_MOUSEMOVE = 512,
    WM_LBUTTONDOWN = 513,
    WM_LBUTTONUP = 514,
    WM_RBUTTONDOWN = 516,
    WM_RBUTTONUP = 517,
    WM_MBUTTONDOWN = 519,
    WM_MBUTTONUP = 520,
    WM_MOUSEHOVER = 673,
    WM_MOUSELEAVE = 675,
};
enum : uint32_t { WA_INACTIVE = 0, WA_ACTIVE = 1 };
enum : uint32_t { MK_LBUTTON = 0x1, MK_RBUTTON = 0x2, MK_SHIFT = 0x4, MK_CONTROL = 0x8, MK_MBUTTON = 0x10 };
enum : int { VK_LBUTTON = 1, VK_RBUTTON = 2, VK_MBUTTON = 4 };
enum : int32_t { emrConsume = 0, emrPostProcess = 1, emrPreprocess = 2 };

class ISubclass {
public:
    virtual ~ISubclass() = default;
    virtual int32_t MsgResponse() = 0;
    virtual void MsgResponse(int32_t value) = 0;
    virtual LRESULT WindowProc(HWND hwnd, uint32_t iMsg, WPARAM wParam, LPARAM lParam) = 0;
};

class SubclassLibrary {
public:
    // Created on first use and kept for the program's life.
    static SubclassLibrary& Instance();

    void AttachMessage(ISubclass* callback, HWND hwnd, uint32_t msg);
    void DetachMessage(ISubclass* callback, HWND hwnd, uint32_t msg);
    // Number of (callback, message) pairs attached to hwnd (tests).
    int AttachedCount(HWND hwnd) const;

    // Hands a message to the callbacks attached for it; true when one was.
    bool Deliver(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);

    struct Impl;

private:
    SubclassLibrary();
    Impl* d;
};

// Hover and leave notification.
struct TRACKMOUSEEVENT {
    uint32_t cbSize = 0;
    uint32_t dwFlags = 0;
    HWND hwndTrack = nullptr;
    uint32_t dwHoverTime = 0;
};
enum : uint32_t { TME_HOVER = 0x1, TME_LEAVE = 0x2, TME_CANCEL = 0x80000000u };
inline constexpr uint32_t HOVER_DEFAULT = 0xFFFFFFFFu;
inline constexpr uint32_t kSystemHoverTime = 400;  // ms
inline constexpr int kHoverBox = 4;                // the pointer may wander this many pixels

// Posts WM_MOUSEHOVER after the pointer rests the hover time, and
// WM_MOUSELEAVE when it leaves (at once when it is not over the window).
// Each notification ends its request.
bool TrackMouseEvent(TRACKMOUSEEVENT* tme);

HWND SetCapture(HWND hwnd);
bool ReleaseCapture();
HWND GetCapture();
bool GetClientRect(HWND hwnd, RECT* rect);
bool ClientToScreen(HWND hwnd, POINT* pt);
HWND WindowFromPoint(POINT screen);
bool PtInRect(const RECT* rect, POINT pt);
// Negative (top bit set) while the mouse button is down.
int16_t GetAsyncKeyState(int vKey);

// The common controls library, as far as hover tracking asks about it: its
// presence, its version entry and its own _TrackMouseEvent. Replaceable so
// that tests can play an old system.
struct DLLVERSIONINFO {
    uint32_t cbSize = 0;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformID = 0;
};
struct CommonControlsAnswer {
    bool present = true;
    bool hasDllGetVersion = true;
    int32_t dllGetVersionResult = 0;  // 0 is success
    uint32_t major = 6, minor = 0;
    bool hasTrackMouseEvent = true;
};
void SetCommonControls(const CommonControlsAnswer& answer);
void ResetCommonControls();

struct SystemLibrary;
using LibraryHandle = SystemLibrary*;
using FARPROC = void (*)();
using DLLGETVERSIONPROC = int32_t (*)(DLLVERSIONINFO*);
using TRACKMOUSEEVENTPROC = bool (*)(TRACKMOUSEEVENT*);

// Knows "comctl32.dll" (any case) while the answer says it is present.
LibraryHandle LoadLibraryA(const char* name);
FARPROC GetProcAddress(LibraryHandle library, const char* name);
bool FreeLibrary(LibraryHandle library);

}  // namespace platform
