#include "controls/cTooltips.h"

#include <algorithm>

#include "platform/qt/SysColor.h"

using namespace platform;

namespace {

constexpr WPARAM kTrue = static_cast<WPARAM>(-1);  // a Boolean True passed as wParam

WPARAM Bool(bool b) { return b ? kTrue : 0; }

template <typename T>
LPARAM Ptr(T* p) {
    return reinterpret_cast<LPARAM>(p);
}

uintptr_t HandleOf(QWidget* w) { return reinterpret_cast<uintptr_t>(w); }

// A system colour reference (top byte 0x80) becomes the colour it stands for
// now; any other value is sent as it is.
uint32_t TranslateColor(uint32_t c) {
    if ((c & 0xFF000000u) == 0x80000000u) return platform::GetSysColor(c & 0xFF);
    return c;
}

// right - left of a rectangle the window returned, without overflow.
int32_t Span(int32_t from, int32_t to) {
    const int64_t d = int64_t{to} - from;
    return static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
}

TOOLINFOA EmptyInfo() {
    TOOLINFOA ti;
    ti.cbSize = TTTOOLINFOA_V1_SIZE;
    return ti;
}

}  // namespace

cTooltips::~cTooltips() { DestroyTooltip(); }

LRESULT cTooltips::Send(uint32_t msg, WPARAM wParam, LPARAM lParam) const {
    if (!m_hwnd) return 0;
    return SendMessageA(m_hwnd.data(), msg, wParam, lParam);
}

void cTooltips::DestroyTooltip() {
    if (m_hwnd) DestroyWindow(m_hwnd.data());
    m_hwnd = nullptr;
}

void cTooltips::AddTool(QWidget* Ctl, uint32_t Flags, const std::string& Text) {
    // A missing control has no window to hold a tool.
    if (!m_hwnd || !Ctl) return;
    TOOLINFOA ti = EmptyInfo();
    ti.uFlags = Flags;
    if (!(Flags & TTF_TRACK)) ti.uFlags |= TTF_SUBCLASS;
    ti.uFlags |= TTF_IDISHWND;
    ti.hwnd = Ctl->parentWidget();
    ti.uId = HandleOf(Ctl);
    ti.hinst = ProgramInstance();
    ti.lpszText = Text.empty() ? nullptr : Text.c_str();
    Send(TTM_ADDTOOLA, 0, Ptr(&ti));
}

void cTooltips::Create(QWidget* Frm, uint32_t Flags) {
    DestroyTooltip();
    m_enabled = true;
    m_icon = 0;
    m_title.clear();

    INITCOMMONCONTROLSEX icc;
    icc.dwSize = 8;
    icc.dwICC = 0xFF;
    InitCommonControlsEx(&icc);
    m_hwnd = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, "", Flags | WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, Frm, nullptr, ProgramInstance(), nullptr);
    if (m_hwnd) SetWindowPos(m_hwnd.data(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

void cTooltips::DeleteTool(QWidget* Ctl) {
    TOOLINFOA ti = FindTool(Ctl);
    if (ti.cbSize) Send(TTM_DELTOOLA, 0, Ptr(&ti));
}

bool cTooltips::Enabled() const { return m_hwnd ? m_enabled : false; }

void cTooltips::Enabled(bool NewState) {
    m_enabled = NewState;
    Send(TTM_ACTIVATE, Bool(NewState), 0);
}

int32_t cTooltips::GetDelayTime(int32_t TimeMode) {
    int32_t unused = 0;
    return static_cast<int32_t>(Send(TTM_GETDELAYTIME, static_cast<WPARAM>(TimeMode), Ptr(&unused)));
}

int32_t cTooltips::Icon() const { return m_hwnd ? m_icon : 0; }

int32_t cTooltips::MakeLong(int16_t Int1, int16_t Int2) {
    const uint32_t v = static_cast<uint16_t>(Int1) | (static_cast<uint32_t>(static_cast<uint16_t>(Int2)) << 16);
    return static_cast<int32_t>(v);
}

void cTooltips::SetTracking(QWidget* Ctl, bool Tracking) {
    TOOLINFOA ti = FindTool(Ctl);
    if (ti.cbSize) Send(TTM_TRACKACTIVATE, Bool(Tracking), Ptr(&ti));
}

void cTooltips::SetTrackPosition(QWidget* Ctl, int16_t X, int16_t Y) {
    TOOLINFOA ti = FindTool(Ctl);
    if (ti.cbSize) Send(TTM_TRACKPOSITION, 0, MakeLong(X, Y));
}

std::string cTooltips::Title() const { return m_hwnd ? m_title : std::string(); }

void cTooltips::Icon(int32_t NewIcon) {
    if (!m_hwnd) return;
    m_icon = NewIcon;
    Send(TTM_SETTITLEA, static_cast<WPARAM>(static_cast<uint32_t>(m_icon)), Ptr(m_title.c_str()));
}

void cTooltips::Title(const std::string& NewTitle) {
    if (!m_hwnd) return;
    m_title = NewTitle;
    Send(TTM_SETTITLEA, static_cast<WPARAM>(static_cast<uint32_t>(m_icon)), Ptr(m_title.c_str()));
}

void cTooltips::SetDelayTime(int32_t TimeMode, int32_t Time) {
    Send(TTM_SETDELAYTIME, static_cast<WPARAM>(TimeMode), Time);
}

void cTooltips::HideTips() { Send(TTM_POP, 0, 0); }

bool cTooltips::HitTest(QWidget* Ctl, int32_t X, int32_t Y) {
    if (!m_hwnd) return false;
    TTHITTESTINFOA hit;
    hit.hwnd = Ctl;
    hit.pt = POINT{X, Y};
    hit.ti.cbSize = TTTOOLINFOA_V1_SIZE;
    return Send(TTM_HITTESTA, 0, Ptr(&hit)) != 0;
}

RECT cTooltips::Margins() const {
    RECT r;
    Send(TTM_GETMARGIN, 0, Ptr(&r));
    return r;
}

int32_t cTooltips::MarginLeft() { return Margins().left; }
int32_t cTooltips::MarginTop() { return Margins().top; }
int32_t cTooltips::MarginRight() { return Margins().right; }
int32_t cTooltips::MarginBottom() { return Margins().bottom; }

// The window takes its margins only as a whole rectangle, so each setter
// reads the other three first.
void cTooltips::SetMargins(const RECT& r) {
    RECT copy = r;
    Send(TTM_SETMARGIN, 0, Ptr(&copy));
}

void cTooltips::MarginLeft(int32_t NewMargin) {
    if (!m_hwnd) return;
    RECT r;
    r.top = MarginTop();
    r.right = MarginRight();
    r.bottom = MarginBottom();
    r.left = NewMargin;
    SetMargins(r);
}

void cTooltips::MarginTop(int32_t NewMargin) {
    if (!m_hwnd) return;
    RECT r;
    r.left = MarginLeft();
    r.right = MarginRight();
    r.bottom = MarginBottom();
    r.top = NewMargin;
    SetMargins(r);
}

void cTooltips::MarginRight(int32_t NewMargin) {
    if (!m_hwnd) return;
    RECT r;
    r.left = MarginLeft();
    r.top = MarginTop();
    r.bottom = MarginBottom();
    r.right = NewMargin;
    SetMargins(r);
}

void cTooltips::MarginBottom(int32_t NewMargin) {
    if (!m_hwnd) return;
    RECT r;
    r.left = MarginLeft();
    r.top = MarginTop();
    r.right = MarginRight();
    r.bottom = NewMargin;
    SetMargins(r);
}

int32_t cTooltips::GetTooltipWidth(QWidget* Ctl) {
    TOOLINFOA ti = FindTool(Ctl);
    if (!ti.cbSize) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(Send(TTM_GETBUBBLESIZE, 0, Ptr(&ti))) & 0xFFFF);
}

int32_t cTooltips::GetTooltipHeight(QWidget* Ctl) {
    TOOLINFOA ti = FindTool(Ctl);
    if (!ti.cbSize) return 0;
    return static_cast<int32_t>((static_cast<uint32_t>(Send(TTM_GETBUBBLESIZE, 0, Ptr(&ti))) >> 16) & 0xFFFF);
}

int32_t cTooltips::MaxTipWidth() { return static_cast<int32_t>(Send(TTM_GETMAXTIPWIDTH, 0, 0)); }

void cTooltips::MaxTipWidth(int32_t NewWidth) { Send(TTM_SETMAXTIPWIDTH, 0, NewWidth); }

void cTooltips::SetToolRect(QWidget* Ctl, int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
    TOOLINFOA ti = FindTool(Ctl);
    if (!ti.cbSize) return;
    ti.rect = RECT{Left, Top, Right, Bottom};
    Send(TTM_NEWTOOLRECTA, 0, Ptr(&ti));
}

int32_t cTooltips::ToolCount() { return static_cast<int32_t>(Send(TTM_GETTOOLCOUNT, 0, 0)); }

uint32_t cTooltips::BackColor() { return static_cast<uint32_t>(Send(TTM_GETTIPBKCOLOR, 0, 0)); }

void cTooltips::BackColor(uint32_t NewColor) { Send(TTM_SETTIPBKCOLOR, TranslateColor(NewColor), 0); }

void cTooltips::SetTipText(QWidget* Ctl, const std::string& NewText) {
    TOOLINFOA ti = FindTool(Ctl);
    if (!ti.cbSize) return;
    ti.lpszText = NewText.c_str();
    ti.cbSize = TTTOOLINFOA_V1_SIZE;
    Send(TTM_UPDATETIPTEXTA, 0, Ptr(&ti));
}

uint32_t cTooltips::ForeColor() { return static_cast<uint32_t>(Send(TTM_GETTIPTEXTCOLOR, 0, 0)); }

void cTooltips::ForeColor(uint32_t NewColor) { Send(TTM_SETTIPTEXTCOLOR, TranslateColor(NewColor), 0); }

RECT cTooltips::Adjust(RECT r, bool toWindow) const {
    Send(TTM_ADJUSTRECT, Bool(toWindow), Ptr(&r));
    return r;
}

int32_t cTooltips::ToolTipWidthFromText(HDC hDC, const std::string& Text) {
    if (!m_hwnd) return 0;
    SIZE size;
    GetTextExtentPoint32A(hDC, Text.c_str(), static_cast<int32_t>(Text.size()), &size);
    const RECT r = Adjust(RECT{0, 0, size.cx, size.cy}, true);
    return Span(r.left, r.right);
}

int32_t cTooltips::ToolTipHeightFromText(HDC hDC, const std::string& Text) {
    if (!m_hwnd) return 0;
    SIZE size;
    GetTextExtentPoint32A(hDC, Text.c_str(), static_cast<int32_t>(Text.size()), &size);
    const RECT r = Adjust(RECT{0, 0, size.cx, size.cy}, true);
    return Span(r.top, r.bottom);
}

int32_t cTooltips::TextHeightFromToolTipHeight(HDC, int32_t TextHeight) {
    if (!m_hwnd) return 0;
    const RECT r = Adjust(RECT{0, 0, 0, TextHeight}, false);
    return Span(r.top, r.bottom);
}

int32_t cTooltips::TextWidthFromToolTipWidth(HDC, int32_t TextWidth) {
    if (!m_hwnd) return 0;
    const RECT r = Adjust(RECT{0, 0, TextWidth, 0}, false);
    return Span(r.left, r.right);
}

TOOLINFOA cTooltips::FindTool(QWidget* Ctl) const {
    TOOLINFOA none;  // cbSize 0: not found
    if (!m_hwnd || !Ctl) return none;
    const auto count = static_cast<int32_t>(Send(TTM_GETTOOLCOUNT, 0, 0));
    for (int32_t i = 0; i < count; ++i) {
        TOOLINFOA ti = EmptyInfo();
        if (Send(TTM_ENUMTOOLSA, static_cast<WPARAM>(i), Ptr(&ti)) != 0 && ti.uId == HandleOf(Ctl)) return ti;
    }
    return none;
}
