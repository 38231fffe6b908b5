#include "controls/Light3D.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "platform/qt/SysColor.h"

QVariant PropertyBag::ReadProperty(const std::string& key, const QVariant& def) const {
    auto it = values_.find(key);
    return it == values_.end() ? def : it->second;
}

void PropertyBag::WriteProperty(const std::string& key, const QVariant& value, const QVariant& def) {
    if (value == def)
        values_.erase(key);
    else
        values_[key] = value;
}

Light3D::Light3D(QWidget* parent) : QWidget(parent) {
    lin3D_[0] = {0, 0, 232, 0, kShadow};
    lin3D_[1] = {0, 0, 0, 104, kShadow};
    lin3D_[2] = {0, 104, 232, 104, kHighlight};
    lin3D_[3] = {232, 104, 232, -15, kHighlight};
}

void Light3D::SetForeColor(uint32_t c) {
    foreColor_ = c;
    update();
    emit PropertyChanged("ForeColor");
}
void Light3D::SetEnabled(bool on) {
    setEnabled(on);
    emit PropertyChanged("Enabled");
}
void Light3D::SetFont(const QFont& f) {
    setFont(f);
    emit PropertyChanged("Font");
}
void Light3D::SetBackStyle(int16_t s) {
    backStyle_ = s;
    update();
    emit PropertyChanged("BackStyle");
}
void Light3D::SetPicture(const QPixmap& p) {
    picture_ = p;
    update();
    emit PropertyChanged("Picture");
}
void Light3D::SetAutoRedraw(bool on) {
    autoRedraw_ = on;
    emit PropertyChanged("AutoRedraw");
}
void Light3D::SetBackColor(uint32_t c) {
    backColor_ = c;
    update();
    emit PropertyChanged("BackColor");
}

void Light3D::Cls() {
    image_ = QImage();
    update();
}

QPaintDevice* Light3D::hDC() {
    EnsureImage();
    return &image_;
}

void Light3D::EnsureImage() {
    if (image_.size() != size()) {
        QImage next(size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        next.fill(Qt::transparent);
        if (!image_.isNull()) QPainter(&next).drawImage(0, 0, image_);
        image_ = next;
    }
}

void Light3D::PSet_(float x, float y, uint32_t color) {
    EnsureImage();
    const int px = int(x) + 1, py = int(y) + 1;
    if (px >= 0 && py >= 0 && px < image_.width() && py < image_.height())
        image_.setPixelColor(px, py, platform::ResolveColor(color, palette()));
    update();
}

void Light3D::SetStyle(bool sunken) {
    const uint32_t a = sunken ? kShadow : kHighlight, b = sunken ? kHighlight : kShadow;
    lin3D_[0].BorderColor = a;
    lin3D_[1].BorderColor = a;
    lin3D_[2].BorderColor = b;
    lin3D_[3].BorderColor = b;
    style_ = sunken;
    update();
    emit PropertyChanged("Style");
}

void Light3D::InitProperties(const QFont& ambientFont) {
    setFont(ambientFont);
    style_ = true;
}

void Light3D::ReadProperties(const PropertyBag& bag, const QFont& ambientFont) {
    backColor_ = bag.ReadProperty("BackColor", 0x8000000Fu).toUInt();
    foreColor_ = bag.ReadProperty("ForeColor", 0x80000012u).toUInt();
    setEnabled(bag.ReadProperty("Enabled", true).toBool());
    SetFont(bag.ReadProperty("Font", ambientFont).value<QFont>());
    backStyle_ = int16_t(bag.ReadProperty("BackStyle", 1).toInt());
    borderStyle_ = int16_t(bag.ReadProperty("BorderStyle", 0).toInt());
    SetPicture(bag.ReadProperty("Picture", QPixmap()).value<QPixmap>());
    autoRedraw_ = bag.ReadProperty("AutoRedraw", false).toBool();
    style_ = bag.ReadProperty("Style", true).toBool();
    SetStyle(style_);
}

void Light3D::WriteProperties(PropertyBag& bag, const QFont& ambientFont) const {
    bag.WriteProperty("BackColor", backColor_, 0x8000000Fu);
    bag.WriteProperty("ForeColor", foreColor_, 0x80000012u);
    bag.WriteProperty("Enabled", isEnabled(), true);
    bag.WriteProperty("Font", font(), ambientFont);
    bag.WriteProperty("BackStyle", int(backStyle_), 1);
    bag.WriteProperty("BorderStyle", int(borderStyle_), 0);
    // Pictures compare by cache key, so only an empty one matches the default.
    if (!picture_.isNull())
        bag.WriteProperty("Picture", picture_, QVariant());
    else
        bag.WriteProperty("Picture", QVariant(), QVariant());
    bag.WriteProperty("AutoRedraw", autoRedraw_, false);
    bag.WriteProperty("Style", style_, true);
}

void Light3D::resizeEvent(QResizeEvent*) {
    emit Resize();
    const float w = float(width()), h = float(height());
    lin3D_[0].X2 = w - 1;
    lin3D_[1].Y2 = h - 1;
    lin3D_[2].Y1 = h - 1;
    lin3D_[2].Y2 = h - 1;
    lin3D_[2].X2 = w;
    lin3D_[3].X1 = w - 1;
    lin3D_[3].X2 = w - 1;
    lin3D_[3].Y1 = h;
}

void Light3D::changeEvent(QEvent* e) {
    if (e->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(e);
}

void Light3D::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    if (backStyle_ != 0) p.fillRect(rect(), platform::ResolveColor(backColor_, pal));
    if (!picture_.isNull()) p.drawPixmap(0, 0, picture_);
    if (!image_.isNull()) p.drawImage(0, 0, image_);
    // Each line is axis-aligned and covers its start point up to, not including, its end.
    for (const Line3D& l : lin3D_) {
        const QColor c = platform::ResolveColor(l.BorderColor, pal);
        const int x1 = int(l.X1), y1 = int(l.Y1), x2 = int(l.X2), y2 = int(l.Y2);
        if (y1 == y2) {
            const int lo = std::min(x1, x2 + (x2 < x1 ? 1 : 0)), hi = std::max(x1 + (x2 < x1 ? 1 : 0), x2);
            if (hi > lo) p.fillRect(QRect(lo, y1, hi - lo, 1), c);
        } else if (x1 == x2) {
            const int lo = y2 < y1 ? y2 + 1 : y1, hi = y2 < y1 ? y1 + 1 : y2;
            if (hi > lo) p.fillRect(QRect(x1, lo, 1, hi - lo), c);
        }
    }
}

static int16_t ShiftState(Qt::KeyboardModifiers m) {
    return int16_t(((m & Qt::ShiftModifier) ? 1 : 0) | ((m & Qt::ControlModifier) ? 2 : 0) |
                   ((m & Qt::AltModifier) ? 4 : 0));
}
static int16_t ButtonState(Qt::MouseButtons b) {
    return int16_t(((b & Qt::LeftButton) ? 1 : 0) | ((b & Qt::RightButton) ? 2 : 0) | ((b & Qt::MiddleButton) ? 4 : 0));
}

void Light3D::mousePressEvent(QMouseEvent* e) {
    int16_t b = ButtonState(e->button()), s = ShiftState(e->modifiers());
    float x = float(e->position().x()), y = float(e->position().y());
    pressed_ = true;
    emit MouseDown(b, s, x, y);
}
void Light3D::mouseMoveEvent(QMouseEvent* e) {
    int16_t b = ButtonState(e->buttons()), s = ShiftState(e->modifiers());
    float x = float(e->position().x()), y = float(e->position().y());
    emit MouseMove(b, s, x, y);
}
void Light3D::mouseReleaseEvent(QMouseEvent* e) {
    int16_t b = ButtonState(e->button()), s = ShiftState(e->modifiers());
    float x = float(e->position().x()), y = float(e->position().y());
    emit MouseUp(b, s, x, y);
    if (pressed_ && rect().contains(e->position().toPoint())) emit Click();
    pressed_ = false;
}
void Light3D::mouseDoubleClickEvent(QMouseEvent*) { emit DblClick(); }
void Light3D::keyPressEvent(QKeyEvent* e) {
    int16_t k = int16_t(e->key() & 0xFFFF), s = ShiftState(e->modifiers());
    emit KeyDown(k, s);
    const QString t = e->text();
    if (!t.isEmpty() && t.at(0).unicode() < 256) {
        int16_t a = int16_t(t.at(0).unicode());
        emit KeyPress(a);
    }
}
void Light3D::keyReleaseEvent(QKeyEvent* e) {
    int16_t k = int16_t(e->key() & 0xFFFF), s = ShiftState(e->modifiers());
    emit KeyUp(k, s);
}
