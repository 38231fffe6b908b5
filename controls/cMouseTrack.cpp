#include "controls/cMouseTrack.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "platform/system/SystemVersion.h"

using namespace platform;

namespace {

constexpr uint32_t kCaptureMessages[] = {WM_MOUSEMOVE, WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
constexpr uint32_t kNotifyMessages[] = {WM_MOUSEHOVER, WM_MOUSELEAVE};

std::string ErrorSource() {
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty()) name = QStringLiteral("Loomvale");
    return name.toStdString() + ".cMouseTrack";
}

// The signed halves of a packed point. Both are read with sign, so a pointer
// just above or left of the control is outside it.
int32_t PointX(LPARAM l) { return static_cast<int16_t>(static_cast<uint32_t>(l) & 0xFFFF); }
int32_t PointY(LPARAM l) { return static_cast<int16_t>((static_cast<uint32_t>(l) >> 16) & 0xFFFF); }

}  // namespace

cMouseTrack::cMouseTrack(QObject* parent) : QObject(parent) {}

cMouseTrack::~cMouseTrack() { DetachMouseTracking(); }

void cMouseTrack::ChooseMethod() {
    m_useCommonControls = true;
    m_useCapture = false;
    OSVERSIONINFOA os;
    if (GetVersionExA(os) &&
        ((os.dwPlatformId == VER_PLATFORM_WIN32_NT && os.dwMajorVersion > 3) || os.dwMajorVersion >= 5))
        m_useCommonControls = false;
    if (m_useCommonControls) {
        bool good = false;
        if (LibraryHandle lib = LoadLibraryA("comctl32.dll")) {
            if (auto proc = reinterpret_cast<DLLGETVERSIONPROC>(GetProcAddress(lib, "DllGetVersion"))) {
                DLLVERSIONINFO dvi;
                dvi.cbSize = 20;
                if (proc(&dvi) == 0)
                    good = dvi.dwMajorVersion > 4 || (dvi.dwMajorVersion == 4 && dvi.dwMinorVersion >= 71);
            }
            FreeLibrary(lib);
        }
        if (!good) {
            m_useCommonControls = false;
            m_useCapture = true;
        }
    }
    m_method = m_useCommonControls ? MethodCommonControls : m_useCapture ? MethodCapture : MethodPlatform;
}

void cMouseTrack::AttachMouseTracking(QWidget* objTo, int32_t eForceMethod) {
    // Release what was attached with the method it was attached by, before
    // the new method is chosen; else a second attach leaves the old window
    // delivering to this object.
    DetachMouseTracking();
    m_useCommonControls = false;
    m_useCapture = false;
    if (eForceMethod == MethodAutomatic) {
        ChooseMethod();
    } else {
        m_useCommonControls = eForceMethod == MethodCommonControls;
        m_useCapture = eForceMethod == MethodCapture;
        m_method = eForceMethod;
    }
    if (!objTo) return;
    m_hwnd = objTo;
    SubclassLibrary& lib = SubclassLibrary::Instance();
    if (m_useCapture) {
        for (uint32_t msg : kCaptureMessages) lib.AttachMessage(this, objTo, msg);
        m_parent = objTo->parentWidget();
        if (m_parent) lib.AttachMessage(this, m_parent.data(), WM_ACTIVATE);
    } else {
        for (uint32_t msg : kNotifyMessages) lib.AttachMessage(this, objTo, msg);
    }
}

void cMouseTrack::StartMouseTracking() {
    if (m_tracking) return;
    TRACKMOUSEEVENT tme;
    tme.cbSize = 16;
    tme.dwFlags = TME_HOVER | TME_LEAVE;
    tme.hwndTrack = m_hwnd.data();
    tme.dwHoverTime = HOVER_DEFAULT;
    if (m_useCommonControls) {
        LibraryHandle lib = LoadLibraryA("comctl32.dll");
        if (!lib) throw MouseTrackError(48, ErrorSource(), "Error in loading DLL");
        auto proc = reinterpret_cast<TRACKMOUSEEVENTPROC>(GetProcAddress(lib, "_TrackMouseEvent"));
        if (!proc) {
            FreeLibrary(lib);
            throw MouseTrackError(453, ErrorSource(), "Can't find DLL entry point _TrackMouseEvent in comctl32.dll");
        }
        proc(&tme);
        FreeLibrary(lib);
    } else if (m_useCapture) {
        SetCapture(m_hwnd.data());
    } else {
        TrackMouseEvent(&tme);
    }
    m_tracking = true;
}

void cMouseTrack::DetachMouseTracking() {
    // The control may be gone already (its messages went with it) while its
    // parent still delivers activation to this object: release that too.
    SubclassLibrary& lib = SubclassLibrary::Instance();
    if (m_useCapture && (m_hwnd || m_parent)) {
        ReleaseCapture();
        if (m_hwnd)
            for (uint32_t msg : kCaptureMessages) lib.DetachMessage(this, m_hwnd.data(), msg);
        if (m_parent) lib.DetachMessage(this, m_parent.data(), WM_ACTIVATE);
    } else if (m_hwnd) {
        for (uint32_t msg : kNotifyMessages) lib.DetachMessage(this, m_hwnd.data(), msg);
    }
    m_hwnd = nullptr;
    m_parent = nullptr;
}

void cMouseTrack::EndWithLeave() {
    m_tracking = false;
    ReleaseCapture();
    emit MouseLeave();
}

void cMouseTrack::PositionTest(uint32_t iMsg, LPARAM lParam) {
    QWidget* w = m_hwnd.data();
    if (!w) return;
    RECT rc;
    GetClientRect(w, &rc);
    POINT pt{PointX(lParam), PointY(lParam)};
    POINT screen = pt;
    ClientToScreen(w, &screen);
    const bool inside = PtInRect(&rc, pt) && WindowFromPoint(screen) == w;
    if (!inside) {
        if (GetAsyncKeyState(VK_LBUTTON) == 0 && GetAsyncKeyState(VK_MBUTTON) == 0 &&
            GetAsyncKeyState(VK_RBUTTON) == 0)
            EndWithLeave();
        return;
    }
    if (iMsg != WM_MOUSEMOVE) {
        m_tracking = false;
        StartMouseTracking();
    }
}

LRESULT cMouseTrack::WindowProc(HWND, uint32_t iMsg, WPARAM wParam, LPARAM lParam) {
    switch (iMsg) {
        case WM_ACTIVATE:
            if (m_tracking) EndWithLeave();
            break;
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            if (m_useCapture) PositionTest(iMsg, lParam);
            break;
        case WM_MOUSEHOVER: {
            m_tracking = false;
            int32_t button = 0, shift = 0;
            if (wParam & MK_LBUTTON) button += 1;
            if (wParam & MK_RBUTTON) button += 2;
            if (wParam & MK_MBUTTON) button += 4;
            if (wParam & MK_CONTROL) shift += 2;
            if (wParam & MK_SHIFT) shift += 1;
            const auto x = static_cast<float>(static_cast<uint32_t>(lParam) & 0xFFFF);
            const auto y = static_cast<float>(PointY(lParam));
            emit MouseHover(button, shift, x, y);
            break;
        }
        case WM_MOUSELEAVE:
            m_tracking = false;
            emit MouseLeave();
            break;
        default:
            break;
    }
    return 0;
}
