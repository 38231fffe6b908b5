// The tooltip window of the common controls, as a Qt widget that answers the
// same messages. A form's controls are registered as tools; the window shows
// a tool's tip after the initial delay once the pointer rests on it, hides it
// when the pointer leaves or a button is pressed, and shows tracking tips at
// the position it is given.
//
// Window handles are widget pointers. Records keep the layout of the ANSI
// records of the platform; their sizes (cbSize) are the platform's 32-bit
// sizes, checked as tags, not measured.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

using HWND = QWidget*;
using HINSTANCE = void*;
using HDC = QWidget*;  // text is measured in this widget's font; null: the application font
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using COLORREF = uint32_t;

struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct POINT {
    int32_t x = 0, y = 0;
};
struct SIZE {
    int32_t cx = 0, cy = 0;
};

struct TOOLINFOA {
    uint32_t cbSize = 0;
    uint32_t uFlags = 0;
    HWND hwnd = nullptr;  // window that holds the tool
    uintptr_t uId = 0;    // the tool's identity (a widget pointer with TTF_IDISHWND)
    RECT rect;
    HINSTANCE hinst = nullptr;
    const char* lpszText = nullptr;
};
inline constexpr uint32_t TTTOOLINFOA_V1_SIZE = 44;

struct TTHITTESTINFOA {
    HWND hwnd = nullptr;
    POINT pt;
    TOOLINFOA ti;
};

struct INITCOMMONCONTROLSEX {
    uint32_t dwSize = 0;
    uint32_t dwICC = 0;
};

inline constexpr char TOOLTIPS_CLASSA[] = "tooltips_class32";

enum : uint32_t {
    TTF_IDISHWND = 0x01,
    TTF_CENTERTIP = 0x02,
    TTF_SUBCLASS = 0x10,
    TTF_TRACK = 0x20,
    TTF_ABSOLUTE = 0x80,
};

enum : uint32_t {
    TTM_ACTIVATE = 1025,
    TTM_SETDELAYTIME = 1027,
    TTM_ADDTOOLA = 1028,
    TTM_DELTOOLA = 1029,
    TTM_NEWTOOLRECTA = 1030,
    TTM_HITTESTA = 1034,
    TTM_UPDATETIPTEXTA = 1036,
    TTM_GETTOOLCOUNT = 1037,
    TTM_ENUMTOOLSA = 1038,
    TTM_TRACKACTIVATE = 1041,
    TTM_TRACKPOSITION = 1042,
    TTM_SETTIPBKCOLOR = 1043,
    TTM_SETTIPTEXTCOLOR = 1044,
    TTM_GETDELAYTIME = 1045,
    TTM_GETTIPBKCOLOR = 1046,
    TTM_GETTIPTEXTCOLOR = 1047,
    TTM_SETMAXTIPWIDTH = 1048,
    TTM_GETMAXTIPWIDTH = 1049,
    TTM_SETMARGIN = 1050,
    TTM_GETMARGIN = 1051,
    TTM_POP = 1052,
    TTM_UPDATE = 1053,
    TTM_GETBUBBLESIZE = 1054,
    TTM_ADJUSTRECT = 1055,
    TTM_SETTITLEA = 1056,
};

enum : uint32_t { TTDT_AUTOMATIC = 0, TTDT_RESHOW = 1, TTDT_AUTOPOP = 2, TTDT_INITIAL = 3 };
enum : uint32_t { TTI_NONE = 0, TTI_INFO = 1, TTI_WARNING = 2, TTI_ERROR = 3 };

enum : uint32_t {
    WS_POPUP = 0x80000000u,
    WS_EX_TOPMOST = 0x8,
    SWP_NOSIZE = 0x1,
    SWP_NOMOVE = 0x2,
    SWP_NOACTIVATE = 0x10,
};
inline constexpr int32_t CW_USEDEFAULT = static_cast<int32_t>(0x80000000u);
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(intptr_t{-1});
inline const char* const LPSTR_TEXTCALLBACKA = reinterpret_cast<const char*>(intptr_t{-1});

bool InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc);
// Knows one window class, TOOLTIPS_CLASSA; returns null for any other.
HWND CreateWindowExA(uint32_t exStyle, const char* className, const char* windowName, uint32_t style, int32_t x,
                     int32_t y, int32_t width, int32_t height, HWND parent, void* menu, HINSTANCE instance,
                     void* param);
bool SetWindowPos(HWND hwnd, HWND insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags);
bool DestroyWindow(HWND hwnd);
// Delivers a message to a tooltip window; 0 for other windows.
LRESULT SendMessageA(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
bool GetTextExtentPoint32A(HDC hdc, const char* text, int32_t length, SIZE* size);
// The program's module instance.
HINSTANCE ProgramInstance();

class TooltipWindow : public QWidget {
    Q_OBJECT
public:
    explicit TooltipWindow(QWidget* owner);
    ~TooltipWindow() override;

    LRESULT message(uint32_t msg, WPARAM wParam, LPARAM lParam);

    // Tests watch the messages the window receives, while lParam is valid.
    void setMessageObserver(std::function<void(uint32_t, WPARAM, LPARAM)> observer);

    // What is on screen: the text and title of the tip shown, empty when hidden.
    QString shownText() const;
    QString shownTitle() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Tool {
        uint32_t flags = 0;
        QPointer<QWidget> hwnd;
        uintptr_t hwndKey = 0;  // the holder's handle as given, the key with uId
        uintptr_t uId = 0;
        QPointer<QWidget> idWidget;  // the tool's own widget with TTF_IDISHWND
        RECT rect;
        HINSTANCE hinst = nullptr;
        std::string text;
    };

    int findTool(const TOOLINFOA& ti) const;
    int toolAt(QWidget* widget, QPoint pos) const;
    void fillInfo(const Tool& tool, TOOLINFOA& ti) const;
    QSize textSize(const Tool& tool) const;
    QSize bubbleSize(const Tool& tool) const;
    void adjust(RECT& r, bool toWindow) const;
    void showTip(int index, QPoint screenPos);
    void hideTip();
    void watch(QWidget* widget);
    void armTool(int index, QPoint screenPos);
    void toolsChanged();
    void widgetGone(QObject* object);

    std::vector<Tool> m_tools;
    std::function<void(uint32_t, WPARAM, LPARAM)> m_observer;
    bool m_active = true;
    int32_t m_initial = 500, m_autopop = 5000, m_reshow = 100;
    COLORREF m_back, m_fore;
    RECT m_margin;
    int32_t m_maxWidth = -1;
    uint32_t m_icon = TTI_NONE;
    std::string m_title;

    int m_shown = -1;    // index of the tool whose tip is shown
    int m_pending = -1;  // tool waiting for its initial delay
    int m_tracked = -1;  // tool shown as a tracking tip
    QPoint m_pendingPos;
    QPoint m_trackPos;
    QTimer m_initialTimer;
    QTimer m_popTimer;
};

}  // namespace platform
