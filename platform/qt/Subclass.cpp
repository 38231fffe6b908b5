#include "platform/qt/Subclass.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace {

LPARAM PackPoint(QPoint p) {
    return static_cast<LPARAM>(static_cast<int32_t>((static_cast<uint32_t>(p.x()) & 0xFFFF) |
                                                    ((static_cast<uint32_t>(p.y()) & 0xFFFF) << 16)));
}

WPARAM KeyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    WPARAM w = 0;
    if (buttons & Qt::LeftButton) w |= MK_LBUTTON;
    if (buttons & Qt::RightButton) w |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) w |= MK_MBUTTON;
    if (mods & Qt::ShiftModifier) w |= MK_SHIFT;
    if (mods & Qt::ControlModifier) w |= MK_CONTROL;
    return w;
}

uint32_t ButtonMessage(Qt::MouseButton b, bool down) {
    switch (b) {
        case Qt::LeftButton: return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        case Qt::RightButton: return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        case Qt::MiddleButton: return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        default: return 0;
    }
}

QPoint LastPointer();

// Posts a message to the callbacks of hwnd, as the platform posts its
// notifications: delivered from the event loop, dropped if hwnd is gone.
void Post(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    QPointer<QWidget> guard(hwnd);
    QMetaObject::invokeMethod(
        qApp,
        [guard, msg, wParam, lParam] {
            if (guard) SubclassLibrary::Instance().Deliver(guard.data(), msg, wParam, lParam);
        },
        Qt::QueuedConnection);
}

}  // namespace

// ---------------------------------------------------------------- subclassing

struct SubclassLibrary::Impl : QObject {
    struct Entry {
        ISubclass* callback;
        uint32_t msg;
    };
    std::map<QWidget*, std::vector<Entry>> table;
    QWidget* postProcessing = nullptr;  // widget whose own handling runs inside the filter

    bool attached(QWidget* w, ISubclass* cb, uint32_t msg) const {
        auto it = table.find(w);
        if (it == table.end()) return false;
        return std::any_of(it->second.begin(), it->second.end(),
                           [&](const Entry& e) { return e.callback == cb && e.msg == msg; });
    }

    std::vector<ISubclass*> callbacks(QWidget* w, uint32_t msg) const {
        std::vector<ISubclass*> out;
        auto it = table.find(w);
        if (it != table.end())
            for (const Entry& e : it->second)
                if (e.msg == msg) out.push_back(e.callback);
        return out;
    }

    // Calls the callbacks still attached; they may detach or delete hwnd.
    bool call(QWidget* w, uint32_t msg, WPARAM wParam, LPARAM lParam) {
        const std::vector<ISubclass*> list = callbacks(w, msg);
        QPointer<QWidget> guard(w);
        for (ISubclass* cb : list) {
            if (!guard || !attached(w, cb, msg)) continue;
            cb->WindowProc(w, msg, wParam, lParam);
        }
        return !list.empty();
    }

    bool eventFilter(QObject* obj, QEvent* ev) override {
        auto* w = qobject_cast<QWidget*>(obj);
        if (!w || w == postProcessing) return false;
        uint32_t msg = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        switch (ev->type()) {
            case QEvent::MouseMove: {
                auto* me = static_cast<QMouseEvent*>(ev);
                msg = WM_MOUSEMOVE;
                wParam = KeyState(me->buttons(), me->modifiers());
                lParam = PackPoint(me->position().toPoint());
                break;
            }
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease: {
                auto* me = static_cast<QMouseEvent*>(ev);
                msg = ButtonMessage(me->button(), ev->type() == QEvent::MouseButtonPress);
                wParam = KeyState(me->buttons(), me->modifiers());
                lParam = PackPoint(me->position().toPoint());
                break;
            }
            case QEvent::WindowActivate:
                msg = WM_ACTIVATE;
                wParam = WA_ACTIVE;
                break;
            case QEvent::WindowDeactivate:
                msg = WM_ACTIVATE;
                wParam = WA_INACTIVE;
                break;
            default:
                return false;
        }
        if (msg == 0) return false;
        const std::vector<ISubclass*> list = callbacks(w, msg);
        if (list.empty()) return false;
        const int32_t response = list.front()->MsgResponse();
        if (response == emrPostProcess) {
            QPointer<QWidget> guard(w);
            postProcessing = w;
            static_cast<QObject*>(w)->event(ev);
            postProcessing = nullptr;
            if (guard) call(w, msg, wParam, lParam);
            return true;
        }
        call(w, msg, wParam, lParam);
        return response == emrConsume;
    }
};

SubclassLibrary::SubclassLibrary() : d(new Impl) { LastPointer(); }

SubclassLibrary& SubclassLibrary::Instance() {
    static SubclassLibrary* library = new SubclassLibrary;  // kept for the program's life
    return *library;
}

void SubclassLibrary::AttachMessage(ISubclass* callback, HWND hwnd, uint32_t msg) {
    if (!callback || !hwnd || d->attached(hwnd, callback, msg)) return;
    auto it = d->table.find(hwnd);
    if (it == d->table.end()) {
        it = d->table.emplace(hwnd, std::vector<Impl::Entry>{}).first;
        hwnd->installEventFilter(d);
        QObject::connect(hwnd, &QObject::destroyed, d, [this, hwnd] { d->table.erase(hwnd); });
    }
    if (msg == WM_MOUSEMOVE) hwnd->setMouseTracking(true);
    it->second.push_back({callback, msg});
}

void SubclassLibrary::DetachMessage(ISubclass* callback, HWND hwnd, uint32_t msg) {
    auto it = d->table.find(hwnd);
    if (it == d->table.end()) return;
    auto& v = it->second;
    v.erase(std::remove_if(v.begin(), v.end(),
                           [&](const Impl::Entry& e) { return e.callback == callback && e.msg == msg; }),
            v.end());
    if (v.empty()) {
        hwnd->removeEventFilter(d);
        QObject::disconnect(hwnd, &QObject::destroyed, d, nullptr);
        d->table.erase(it);
    }
}

int SubclassLibrary::AttachedCount(HWND hwnd) const {
    auto it = d->table.find(hwnd);
    return it == d->table.end() ? 0 : static_cast<int>(it->second.size());
}

bool SubclassLibrary::Deliver(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    return d->call(hwnd, msg, wParam, lParam);
}

// ------------------------------------------------------------ hover and leave

namespace {

// Where the pointer was last seen, for requests made after it came to rest.
class PointerWatch : public QObject {
public:
    static QPoint Last() {
        static PointerWatch* watch = [] {
            auto* w = new PointerWatch;
            qApp->installEventFilter(w);
            return w;
        }();
        return watch->m_last;
    }

protected:
    bool eventFilter(QObject*, QEvent* ev) override {
        if (ev->type() == QEvent::MouseMove)
            m_last = static_cast<QMouseEvent*>(ev)->globalPosition().toPoint();
        return false;
    }

private:
    PointerWatch() { setParent(qApp); }
    QPoint m_last;
};

class HoverTracker : public QObject {
public:
    explicit HoverTracker(QWidget* w) : m_widget(w) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { hoverDue(); });
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }

    void request(uint32_t flags, uint32_t hoverTime) {
        if (flags & TME_CANCEL) {
            if (flags & TME_HOVER) {
                m_hover = false;
                m_timer.stop();
            }
            if (flags & TME_LEAVE) m_leave = false;
            return;
        }
        if (!m_widget->underMouse()) {
            // Not over the window: the leave is due at once, no hover follows.
            m_hover = false;
            m_timer.stop();
            m_leave = false;
            if (flags & TME_LEAVE) Post(m_widget, WM_MOUSELEAVE, 0, 0);
            return;
        }
        if (flags & TME_LEAVE) m_leave = true;
        if (flags & TME_HOVER) {
            m_last = m_widget->mapFromGlobal(PointerWatch::Last());
            m_hover = true;
            m_origin = m_last;
            m_timer.start(static_cast<int>(hoverTime == HOVER_DEFAULT || hoverTime == 0 ? kSystemHoverTime
                                                                                         : std::min(hoverTime, 0x7FFFFFFFu)));
        }
    }

protected:
    bool eventFilter(QObject*, QEvent* ev) override {
        switch (ev->type()) {
            case QEvent::Enter:
                m_last = static_cast<QEnterEvent*>(ev)->position().toPoint();
                break;
            case QEvent::MouseMove: {
                m_last = static_cast<QMouseEvent*>(ev)->position().toPoint();
                const QPoint d = m_last - m_origin;
                if (m_hover && (std::abs(d.x()) > kHoverBox / 2 || std::abs(d.y()) > kHoverBox / 2)) {
                    m_origin = m_last;
                    m_timer.start();
                }
                break;
            }
            case QEvent::Leave:
            case QEvent::Hide:
                m_hover = false;
                m_timer.stop();
                if (m_leave) {
                    m_leave = false;
                    Post(m_widget, WM_MOUSELEAVE, 0, 0);
                }
                break;
            default:
                break;
        }
        return false;
    }

private:
    void hoverDue() {
        if (!m_hover) return;
        m_hover = false;
        Post(m_widget, WM_MOUSEHOVER, KeyState(QGuiApplication::mouseButtons(), QGuiApplication::keyboardModifiers()),
             PackPoint(m_last));
    }

    QWidget* m_widget;
    QTimer m_timer;
    bool m_hover = false;
    bool m_leave = false;
    QPoint m_last, m_origin;
};

QPoint LastPointer() { return PointerWatch::Last(); }

HoverTracker* TrackerFor(QWidget* w) {
    // The tracker is a child of its widget, so it goes with it.
    static std::map<QWidget*, QPointer<HoverTracker>> trackers;
    QPointer<HoverTracker>& t = trackers[w];
    if (!t) {
        t = new HoverTracker(w);
        t->setParent(w);
        QObject::connect(w, &QObject::destroyed, [w] { trackers.erase(w); });
    }
    return t.data();
}

QPointer<QWidget> g_capture;

CommonControlsAnswer& Answer() {
    static CommonControlsAnswer answer;
    return answer;
}

int32_t DllGetVersionStandIn(DLLVERSIONINFO* info) {
    if (!info || info->cbSize < 20) return -1;
    const CommonControlsAnswer& a = Answer();
    if (a.dllGetVersionResult != 0) return a.dllGetVersionResult;
    info->dwMajorVersion = a.major;
    info->dwMinorVersion = a.minor;
    info->dwBuildNumber = 0;
    info->dwPlatformID = 2;
    return 0;
}

bool TrackMouseEventStandIn(TRACKMOUSEEVENT* tme) { return TrackMouseEvent(tme); }

}  // namespace

struct SystemLibrary {
    int refs = 0;
};

bool TrackMouseEvent(TRACKMOUSEEVENT* tme) {
    if (!tme || tme->cbSize < 16 || !tme->hwndTrack) return false;
    TrackerFor(tme->hwndTrack)->request(tme->dwFlags, tme->dwHoverTime);
    return true;
}

HWND SetCapture(HWND hwnd) {
    HWND old = g_capture.data();
    if (!hwnd) return old;
    if (old && old != hwnd) old->releaseMouse();
    hwnd->grabMouse();
    g_capture = hwnd;
    return old;
}

bool ReleaseCapture() {
    if (g_capture) g_capture->releaseMouse();
    g_capture = nullptr;
    return true;
}

HWND GetCapture() { return g_capture.data(); }

bool GetClientRect(HWND hwnd, RECT* rect) {
    if (!hwnd || !rect) return false;
    *rect = RECT{0, 0, hwnd->width(), hwnd->height()};
    return true;
}

bool ClientToScreen(HWND hwnd, POINT* pt) {
    if (!hwnd || !pt) return false;
    const QPoint g = hwnd->mapToGlobal(QPoint(pt->x, pt->y));
    *pt = POINT{g.x(), g.y()};
    return true;
}

HWND WindowFromPoint(POINT screen) { return QApplication::widgetAt(QPoint(screen.x, screen.y)); }

bool PtInRect(const RECT* rect, POINT pt) {
    return rect && pt.x >= rect->left && pt.x < rect->right && pt.y >= rect->top && pt.y < rect->bottom;
}

int16_t GetAsyncKeyState(int vKey) {
    Qt::MouseButton b = vKey == VK_LBUTTON ? Qt::LeftButton
                        : vKey == VK_RBUTTON ? Qt::RightButton
                        : vKey == VK_MBUTTON ? Qt::MiddleButton
                                             : Qt::NoButton;
    if (b == Qt::NoButton) return 0;
    return (QGuiApplication::mouseButtons() & b) ? static_cast<int16_t>(-32768) : 0;
}

void SetCommonControls(const CommonControlsAnswer& answer) { Answer() = answer; }
void ResetCommonControls() { Answer() = CommonControlsAnswer{}; }

LibraryHandle LoadLibraryA(const char* name) {
    static SystemLibrary comctl32;
    if (!name || !Answer().present || strcasecmp(name, "comctl32.dll") != 0) return nullptr;
    ++comctl32.refs;
    return &comctl32;
}

FARPROC GetProcAddress(LibraryHandle library, const char* name) {
    if (!library || !name || library->refs <= 0) return nullptr;
    const CommonControlsAnswer& a = Answer();
    if (a.hasDllGetVersion && std::strcmp(name, "DllGetVersion") == 0)
        return reinterpret_cast<FARPROC>(&DllGetVersionStandIn);
    if (a.hasTrackMouseEvent && std::strcmp(name, "_TrackMouseEvent") == 0)
        return reinterpret_cast<FARPROC>(&TrackMouseEventStandIn);
    return nullptr;
}

bool FreeLibrary(LibraryHandle library) {
    if (!library || library->refs <= 0) return false;
    --library->refs;
    return true;
}

}  // namespace platform
