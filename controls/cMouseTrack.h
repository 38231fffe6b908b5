// Tells its owner when the mouse comes to rest over one control (MouseHover)
// and when it leaves it (MouseLeave). It watches the control's messages
// through the subclassing library and tracks by the platform's hover and
// leave notification, the same notification of the common controls library,
// or, where neither exists, by holding the mouse capture.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/qt/Subclass.h"

// The error a tracking call that cannot be made at all hands back.
class MouseTrackError : public std::runtime_error {
public:
    MouseTrackError(int32_t number, std::string source, const std::string& description)
        : std::runtime_error(description), Number(number), Source(std::move(source)) {}
    int32_t Number;
    std::string Source;
};

class cMouseTrack : public QObject, public platform::ISubclass {
    Q_OBJECT
public:
    enum : int32_t { MethodPlatform = 0, MethodCommonControls = 1, MethodCapture = 2, MethodAutomatic = -1 };

    explicit cMouseTrack(QObject* parent = nullptr);
    ~cMouseTrack() override;

    int32_t Method() const { return m_method; }
    void AttachMouseTracking(QWidget* objTo, int32_t eForceMethod = MethodAutomatic);
    void StartMouseTracking();
    void DetachMouseTracking();
    bool Tracking() const { return m_tracking; }

    int32_t MsgResponse() override { return platform::emrPreprocess; }
    void MsgResponse(int32_t) override {}
    platform::LRESULT WindowProc(platform::HWND hwnd, uint32_t iMsg, platform::WPARAM wParam,
                                 platform::LPARAM lParam) override;

signals:
    void MouseHover(int32_t Button, int32_t Shift, float x, float y);
    void MouseLeave();

private:
    void ChooseMethod();
    void PositionTest(uint32_t iMsg, platform::LPARAM lParam);
    void EndWithLeave();

    bool m_tracking = false;
    QPointer<QWidget> m_hwnd;
    QPointer<QWidget> m_parent;
    bool m_useCommonControls = false;
    bool m_useCapture = false;
    int32_t m_method = MethodPlatform;
};
