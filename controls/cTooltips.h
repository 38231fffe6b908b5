// Gives the controls of a form tips: wraps one tooltip window of the common
// controls, registers controls as tools, and tunes the window's colours,
// margins, delays, title and tracking. Nearly every member is one message to
// the window; without a window they send nothing and return 0, False or "".
//
// A tool is known by its control's window handle (uId). Flags, delay kinds
// and window styles are handed through as the platform's bits.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <string>

#include "platform/qt/TooltipWindow.h"

class cTooltips {
public:
    cTooltips() = default;
    ~cTooltips();
    cTooltips(const cTooltips&) = delete;
    cTooltips& operator=(const cTooltips&) = delete;

    void AddTool(QWidget* Ctl, uint32_t Flags, const std::string& Text = std::string());
    void Create(QWidget* Frm, uint32_t Flags);
    void DeleteTool(QWidget* Ctl);
    bool Enabled() const;
    void Enabled(bool NewState);
    int32_t GetDelayTime(int32_t TimeMode);
    int32_t Icon() const;
    static int32_t MakeLong(int16_t Int1, int16_t Int2);
    void SetTracking(QWidget* Ctl, bool Tracking);
    void SetTrackPosition(QWidget* Ctl, int16_t X, int16_t Y);
    std::string Title() const;
    void Icon(int32_t NewIcon);
    void Title(const std::string& NewTitle);
    void SetDelayTime(int32_t TimeMode, int32_t Time);
    void HideTips();
    bool HitTest(QWidget* Ctl, int32_t X, int32_t Y);
    int32_t MarginLeft();
    int32_t MarginTop();
    int32_t MarginRight();
    int32_t MarginBottom();
    void MarginLeft(int32_t NewMargin);
    void MarginTop(int32_t NewMargin);
    void MarginRight(int32_t NewMargin);
    void MarginBottom(int32_t NewMargin);
    static int32_t GetShellVersion() { return 0; }
    int32_t GetTooltipWidth(QWidget* Ctl);
    int32_t GetTooltipHeight(QWidget* Ctl);
    int32_t MaxTipWidth();
    void MaxTipWidth(int32_t NewWidth);
    void SetToolRect(QWidget* Ctl, int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
    int32_t ToolCount();
    uint32_t BackColor();
    void BackColor(uint32_t NewColor);
    void SetTipText(QWidget* Ctl, const std::string& NewText);
    uint32_t ForeColor();
    void ForeColor(uint32_t NewColor);
    int32_t ToolTipWidthFromText(platform::HDC hDC, const std::string& Text);
    int32_t ToolTipHeightFromText(platform::HDC hDC, const std::string& Text);
    int32_t TextHeightFromToolTipHeight(platform::HDC hDC, int32_t TextHeight);
    int32_t TextWidthFromToolTipWidth(platform::HDC hDC, int32_t TextWidth);

    // The tooltip window; null before Create, after a failed one, or once the
    // window is gone with its form.
    platform::HWND hWnd() const { return m_hwnd.data(); }

private:
    platform::LRESULT Send(uint32_t msg, platform::WPARAM wParam, platform::LPARAM lParam) const;
    // The registered tool of Ctl, or a record with cbSize 0.
    platform::TOOLINFOA FindTool(QWidget* Ctl) const;
    platform::RECT Margins() const;
    void SetMargins(const platform::RECT& r);
    platform::RECT Adjust(platform::RECT r, bool toWindow) const;
    void DestroyTooltip();

    QPointer<QWidget> m_hwnd;
    bool m_enabled = false;
    int32_t m_icon = 0;
    std::string m_title;
};
