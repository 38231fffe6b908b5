#include "platform/qt/TooltipWindow.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr int kFrame = 3;       // border and inner padding on each side, outside the margins
constexpr int kIconSize = 16;
constexpr int kCursorGap = 20;  // a tip appears below the pointer
constexpr int kMaxBubble = 4096;  // a tip never grows past this on either side

int32_t Saturate(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// A handle in a record is only taken for a widget when one lives at that
// address; anything else would be followed into freed or foreign memory.
QWidget* LiveWidget(uintptr_t handle) {
    if (!handle) return nullptr;
    for (QWidget* w : QApplication::allWidgets())
        if (reinterpret_cast<uintptr_t>(w) == handle) return w;
    return nullptr;
}

COLORREF ToColorRef(const QColor& c) {
    return static_cast<COLORREF>(c.red()) | (static_cast<COLORREF>(c.green()) << 8) |
           (static_cast<COLORREF>(c.blue()) << 16);
}
QColor FromColorRef(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

int32_t LoShort(LPARAM v) { return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF); }
int32_t HiShort(LPARAM v) { return static_cast<int16_t>((static_cast<uint32_t>(v) >> 16) & 0xFFFF); }

bool ValidInfo(const TOOLINFOA* ti) { return ti && ti->cbSize >= TTTOOLINFOA_V1_SIZE; }

QIcon TitleIcon(uint32_t icon) {
    QStyle* style = QApplication::style();
    switch (icon) {
        case 1: case 4: return style->standardIcon(QStyle::SP_MessageBoxInformation);
        case 2: case 5: return style->standardIcon(QStyle::SP_MessageBoxWarning);
        case 3: case 6: return style->standardIcon(QStyle::SP_MessageBoxCritical);
        default: return {};
    }
}

QFont TitleFont(QFont f) {
    f.setBold(true);
    return f;
}

}  // namespace

bool InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) { return icc && icc->dwSize == 8; }

HWND CreateWindowExA(uint32_t /*exStyle*/, const char* className, const char* /*windowName*/, uint32_t /*style*/,
                     int32_t /*x*/, int32_t /*y*/, int32_t /*width*/, int32_t /*height*/, HWND parent,
                     void* /*menu*/, HINSTANCE /*instance*/, void* /*param*/) {
    if (!className || std::strcmp(className, TOOLTIPS_CLASSA) != 0) return nullptr;
    if (!qApp) return nullptr;
    return new TooltipWindow(parent);
}

bool SetWindowPos(HWND hwnd, HWND insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags) {
    if (!hwnd) return false;
    if (!(flags & SWP_NOMOVE)) hwnd->move(x, y);
    if (!(flags & SWP_NOSIZE)) hwnd->resize(cx, cy);
    if (insertAfter == HWND_TOPMOST) hwnd->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return true;
}

bool DestroyWindow(HWND hwnd) {
    if (!hwnd) return false;
    delete hwnd;
    return true;
}

LRESULT SendMessageA(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (auto* tip = qobject_cast<TooltipWindow*>(hwnd)) return tip->message(msg, wParam, lParam);
    return 0;
}

bool GetTextExtentPoint32A(HDC hdc, const char* text, int32_t length, SIZE* size) {
    if (!size || length < 0 || (!text && length > 0)) return false;
    const QFontMetrics fm(hdc ? hdc->font() : QApplication::font());
    const QString s = QString::fromUtf8(text, length);
    size->cx = fm.horizontalAdvance(s);
    size->cy = fm.height();
    return true;
}

HINSTANCE ProgramInstance() {
    static char instance;
    return &instance;
}

TooltipWindow::TooltipWindow(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QPalette pal = QApplication::palette();
    m_back = ToColorRef(pal.color(QPalette::ToolTipBase));
    m_fore = ToColorRef(pal.color(QPalette::ToolTipText));
    m_initialTimer.setSingleShot(true);
    m_popTimer.setSingleShot(true);
    connect(&m_initialTimer, &QTimer::timeout, this, [this] {
        if (m_pending >= 0) showTip(m_pending, m_pendingPos);
        m_pending = -1;
    });
    connect(&m_popTimer, &QTimer::timeout, this, [this] {
        if (m_shown >= 0 && m_shown != m_tracked) hideTip();
    });
}

TooltipWindow::~TooltipWindow() {
    for (const Tool& t : m_tools) {
        if (t.idWidget) t.idWidget->removeEventFilter(this);
        if (t.hwnd) t.hwnd->removeEventFilter(this);
    }
}

void TooltipWindow::setMessageObserver(std::function<void(uint32_t, WPARAM, LPARAM)> observer) {
    m_observer = std::move(observer);
}

QString TooltipWindow::shownText() const {
    if (m_shown < 0 || !isVisible()) return {};
    return QString::fromStdString(m_tools[static_cast<size_t>(m_shown)].text);
}

QString TooltipWindow::shownTitle() const {
    if (m_shown < 0 || !isVisible()) return {};
    return QString::fromStdString(m_title);
}

int TooltipWindow::findTool(const TOOLINFOA& ti) const {
    for (size_t i = 0; i < m_tools.size(); ++i)
        if (m_tools[i].hwndKey == reinterpret_cast<uintptr_t>(ti.hwnd) && m_tools[i].uId == ti.uId)
            return static_cast<int>(i);
    return -1;
}

void TooltipWindow::widgetGone(QObject* object) {
    // The object is half destroyed: only its address is compared.
    const auto key = reinterpret_cast<uintptr_t>(object);
    const auto gone = [key](const Tool& t) { return t.hwndKey == key || ((t.flags & TTF_IDISHWND) && t.uId == key); };
    if (std::none_of(m_tools.begin(), m_tools.end(), gone)) return;
    toolsChanged();
    m_tools.erase(std::remove_if(m_tools.begin(), m_tools.end(), gone), m_tools.end());
}

int TooltipWindow::toolAt(QWidget* widget, QPoint pos) const {
    for (size_t i = 0; i < m_tools.size(); ++i) {
        const Tool& t = m_tools[i];
        if (t.flags & TTF_IDISHWND) {
            if (t.idWidget == widget && widget->rect().contains(pos)) return static_cast<int>(i);
        } else if (t.hwnd == widget) {
            const QRect r(QPoint(t.rect.left, t.rect.top), QPoint(t.rect.right - 1, t.rect.bottom - 1));
            if (r.contains(pos)) return static_cast<int>(i);
        }
    }
    return -1;
}

void TooltipWindow::fillInfo(const Tool& tool, TOOLINFOA& ti) const {
    // The text is not copied back: the record carries no buffer length.
    ti.uFlags = tool.flags;
    ti.hwnd = tool.hwnd;
    ti.uId = tool.uId;
    ti.rect = tool.rect;
    ti.hinst = tool.hinst;
}

QSize TooltipWindow::textSize(const Tool& tool) const {
    const QFontMetrics fm(font());
    const QString text = QString::fromStdString(tool.text);
    QRect r;
    if (m_maxWidth >= 0)
        r = fm.boundingRect(QRect(0, 0, std::max(1, m_maxWidth), 100000), Qt::TextWordWrap, text);
    else
        r = fm.boundingRect(QRect(0, 0, 100000, 100000), 0, text);
    QSize size(r.width(), std::max(r.height(), text.isEmpty() ? 0 : fm.height()));
    if (!m_title.empty()) {
        const QFontMetrics tfm(TitleFont(font()));
        int w = tfm.horizontalAdvance(QString::fromStdString(m_title));
        int h = tfm.height();
        if (!TitleIcon(m_icon).isNull()) {
            w += kIconSize + 4;
            h = std::max(h, kIconSize);
        }
        size = QSize(std::max(size.width(), w), size.height() + h + 2);
    }
    return size;
}

void TooltipWindow::adjust(RECT& r, bool toWindow) const {
    // Wide margins or rectangles saturate rather than wrap.
    const int64_t s = toWindow ? 1 : -1;
    r.left = Saturate(r.left - s * (int64_t{m_margin.left} + kFrame));
    r.top = Saturate(r.top - s * (int64_t{m_margin.top} + kFrame));
    r.right = Saturate(r.right + s * (int64_t{m_margin.right} + kFrame));
    r.bottom = Saturate(r.bottom + s * (int64_t{m_margin.bottom} + kFrame));
}

QSize TooltipWindow::bubbleSize(const Tool& tool) const {
    const QSize t = textSize(tool);
    RECT r{0, 0, t.width(), t.height()};
    adjust(r, true);
    const auto side = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 1, kMaxBubble)); };
    return QSize(side(int64_t{r.right} - r.left), side(int64_t{r.bottom} - r.top));
}

void TooltipWindow::showTip(int index, QPoint screenPos) {
    if (index < 0 || static_cast<size_t>(index) >= m_tools.size()) return;
    const Tool& tool = m_tools[static_cast<size_t>(index)];
    if (tool.text.empty()) {
        hideTip();
        return;
    }
    m_shown = index;
    resize(bubbleSize(tool));
    move(screenPos);
    show();
    raise();
    update();
    if (index != m_tracked) m_popTimer.start(m_autopop);
}

void TooltipWindow::hideTip() {
    m_initialTimer.stop();
    m_popTimer.stop();
    m_pending = -1;
    m_shown = -1;
    m_tracked = -1;
    hide();
}

void TooltipWindow::watch(QWidget* widget) {
    if (!widget) return;
    widget->setAttribute(Qt::WA_Hover, true);
    widget->setMouseTracking(true);
    widget->removeEventFilter(this);  // installed once, however many tools it holds
    widget->installEventFilter(this);
}

void TooltipWindow::toolsChanged() {
    // Indices of the pending, shown or tracked tool may have moved.
    hideTip();
}

void TooltipWindow::armTool(int index, QPoint screenPos) {
    if (index == m_shown) return;  // already up: a small move does not restart it
    if (index == m_pending) {
        m_pendingPos = screenPos;
        return;
    }
    const bool reshow = m_shown >= 0;
    if (reshow) {
        m_popTimer.stop();
        hide();
        m_shown = -1;
    }
    m_pending = index;
    m_pendingPos = screenPos;
    m_initialTimer.start(reshow ? m_reshow : m_initial);
}

bool TooltipWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
        case QEvent::HoverMove: {
            QPoint local, global;
            if (event->type() == QEvent::MouseMove) {
                auto* me = static_cast<QMouseEvent*>(event);
                local = me->position().toPoint();
                global = me->globalPosition().toPoint();
            } else if (event->type() == QEvent::HoverMove) {
                local = static_cast<QHoverEvent*>(event)->position().toPoint();
                global = widget->mapToGlobal(local);
            } else {
                local = static_cast<QEnterEvent*>(event)->position().toPoint();
                global = widget->mapToGlobal(local);
            }
            const int index = toolAt(widget, local);
            const bool usable = index >= 0 && m_active && (m_tools[static_cast<size_t>(index)].flags & TTF_SUBCLASS);
            if (m_tracked >= 0) break;  // a tracking tip holds the window
            if (usable)
                armTool(index, global + QPoint(0, kCursorGap));
            else
                hideTip();
            break;
        }
        case QEvent::Leave:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
        case QEvent::Hide:
            if (m_tracked < 0) hideTip();
            break;
        default:
            break;
    }
    return false;
}

void TooltipWindow::paintEvent(QPaintEvent*) {
    if (m_shown < 0) return;
    const Tool& tool = m_tools[static_cast<size_t>(m_shown)];
    QPainter p(this);
    p.fillRect(rect(), FromColorRef(m_back));
    p.setPen(FromColorRef(m_fore));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    int x = kFrame + m_margin.left;
    int y = kFrame + m_margin.top;
    const int width = this->width() - x - kFrame - m_margin.right;
    if (!m_title.empty()) {
        const QIcon icon = TitleIcon(m_icon);
        int tx = x;
        int h = QFontMetrics(TitleFont(font())).height();
        if (!icon.isNull()) {
            icon.paint(&p, QRect(x, y, kIconSize, kIconSize));
            tx += kIconSize + 4;
            h = std::max(h, kIconSize);
        }
        p.setFont(TitleFont(font()));
        p.drawText(QRect(tx, y, width - (tx - x), h), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(m_title));
        p.setFont(font());
        y += h + 2;
    }
    const int flags = m_maxWidth >= 0 ? Qt::TextWordWrap : 0;
    p.drawText(QRect(x, y, width, this->height() - y - kFrame - m_margin.bottom), flags,
               QString::fromStdString(tool.text));
}

LRESULT TooltipWindow::message(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (m_observer) m_observer(msg, wParam, lParam);
    auto* ti = reinterpret_cast<TOOLINFOA*>(lParam);
    auto* rc = reinterpret_cast<RECT*>(lParam);
    switch (msg) {
        case TTM_ACTIVATE:
            m_active = wParam != 0;
            if (!m_active) hideTip();
            return 0;
        case TTM_SETDELAYTIME: {
            // A negative time restores the default of that delay.
            const auto t = static_cast<int32_t>(lParam);
            switch (wParam) {
                case TTDT_AUTOMATIC:
                    m_initial = t < 0 ? 500 : t;
                    m_autopop = Saturate(int64_t{m_initial} * 10);
                    m_reshow = m_initial / 5;
                    break;
                case TTDT_INITIAL: m_initial = t < 0 ? 500 : t; break;
                case TTDT_AUTOPOP: m_autopop = t < 0 ? 5000 : t; break;
                case TTDT_RESHOW: m_reshow = t < 0 ? 100 : t; break;
                default: break;
            }
            return 0;
        }
        case TTM_GETDELAYTIME:
            switch (wParam) {
                case TTDT_INITIAL: return m_initial;
                case TTDT_AUTOPOP: return m_autopop;
                case TTDT_RESHOW: return m_reshow;
                default: return 0;
            }
        case TTM_ADDTOOLA: {
            if (!ValidInfo(ti)) return 0;
            Tool t;
            t.flags = ti->uFlags;
            t.hwnd = LiveWidget(reinterpret_cast<uintptr_t>(ti->hwnd));
            t.hwndKey = reinterpret_cast<uintptr_t>(ti->hwnd);
            t.uId = ti->uId;
            if (t.flags & TTF_IDISHWND) {
                t.idWidget = LiveWidget(ti->uId);
                if (!t.idWidget) return 0;  // no such control
            }
            // A tool goes with its control or its container.
            for (QWidget* w : {t.idWidget.data(), t.hwnd.data()})
                if (w) connect(w, &QObject::destroyed, this, &TooltipWindow::widgetGone, Qt::UniqueConnection);
            t.rect = ti->rect;
            t.hinst = ti->hinst;
            if (ti->lpszText && ti->lpszText != LPSTR_TEXTCALLBACKA) t.text = ti->lpszText;
            if (t.flags & TTF_SUBCLASS) watch((t.flags & TTF_IDISHWND) ? t.idWidget.data() : t.hwnd.data());
            m_tools.push_back(std::move(t));
            return 1;
        }
        case TTM_DELTOOLA: {
            if (!ValidInfo(ti)) return 0;
            const int i = findTool(*ti);
            if (i >= 0) {
                toolsChanged();
                m_tools.erase(m_tools.begin() + i);
            }
            return 0;
        }
        case TTM_NEWTOOLRECTA: {
            if (!ValidInfo(ti)) return 0;
            const int i = findTool(*ti);
            if (i >= 0) m_tools[static_cast<size_t>(i)].rect = ti->rect;
            return 0;
        }
        case TTM_UPDATETIPTEXTA: {
            if (!ValidInfo(ti)) return 0;
            const int i = findTool(*ti);
            if (i < 0) return 0;
            Tool& t = m_tools[static_cast<size_t>(i)];
            t.text = (ti->lpszText && ti->lpszText != LPSTR_TEXTCALLBACKA) ? ti->lpszText : "";
            if (i == m_shown) {
                if (t.text.empty()) {
                    hideTip();
                } else {
                    resize(bubbleSize(t));
                    update();
                }
            }
            return 0;
        }
        case TTM_GETTOOLCOUNT:
            return static_cast<LRESULT>(m_tools.size());
        case TTM_ENUMTOOLSA:
            if (!ValidInfo(ti) || wParam >= m_tools.size()) return 0;
            fillInfo(m_tools[wParam], *ti);
            return 1;
        case TTM_HITTESTA: {
            auto* hit = reinterpret_cast<TTHITTESTINFOA*>(lParam);
            if (!hit || !hit->hwnd) return 0;
            const int i = toolAt(hit->hwnd, QPoint(hit->pt.x, hit->pt.y));
            if (i < 0) return 0;
            if (hit->ti.cbSize >= TTTOOLINFOA_V1_SIZE) fillInfo(m_tools[static_cast<size_t>(i)], hit->ti);
            return 1;
        }
        case TTM_TRACKACTIVATE: {
            if (!ValidInfo(ti)) return 0;
            const int i = findTool(*ti);
            if (i < 0) return 0;
            if (wParam) {
                hideTip();
                m_tracked = i;
                showTip(i, m_trackPos);
                if (m_shown != i) m_tracked = -1;  // nothing to show yet
            } else if (m_tracked == i) {
                hideTip();
            }
            return 0;
        }
        case TTM_TRACKPOSITION:
            m_trackPos = QPoint(LoShort(lParam), HiShort(lParam));
            if (m_tracked >= 0) move(m_trackPos);
            return 0;
        case TTM_SETTIPBKCOLOR:
            m_back = static_cast<COLORREF>(wParam) & 0xFFFFFF;
            update();
            return 0;
        case TTM_SETTIPTEXTCOLOR:
            m_fore = static_cast<COLORREF>(wParam) & 0xFFFFFF;
            update();
            return 0;
        case TTM_GETTIPBKCOLOR:
            return m_back;
        case TTM_GETTIPTEXTCOLOR:
            return m_fore;
        case TTM_SETMAXTIPWIDTH: {
            const int32_t old = m_maxWidth;
            m_maxWidth = static_cast<int32_t>(lParam) < 0 ? -1 : static_cast<int32_t>(lParam);
            return old;
        }
        case TTM_GETMAXTIPWIDTH:
            return m_maxWidth;
        case TTM_SETMARGIN:
            if (rc) m_margin = *rc;
            return 0;
        case TTM_GETMARGIN:
            if (rc) *rc = m_margin;
            return 0;
        case TTM_POP:
            hideTip();
            return 0;
        case TTM_UPDATE:
            update();
            return 0;
        case TTM_GETBUBBLESIZE: {
            if (!ValidInfo(ti)) return 0;
            const int i = findTool(*ti);
            if (i < 0) return 0;
            const QSize s = bubbleSize(m_tools[static_cast<size_t>(i)]);
            return static_cast<LRESULT>((static_cast<uint32_t>(s.width()) & 0xFFFF) |
                                        ((static_cast<uint32_t>(s.height()) & 0xFFFF) << 16));
        }
        case TTM_ADJUSTRECT:
            if (!rc) return 0;
            adjust(*rc, wParam != 0);
            return 1;
        case TTM_SETTITLEA: {
            m_icon = static_cast<uint32_t>(wParam);
            const char* title = reinterpret_cast<const char*>(lParam);
            m_title = title ? title : "";
            if (m_shown >= 0) {
                resize(bubbleSize(m_tools[static_cast<size_t>(m_shown)]));
                update();
            }
            return 1;
        }
        default:
            return 0;
    }
}

}  // namespace platform
