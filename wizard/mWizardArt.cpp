#include "wizard/mWizardArt.h"

#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>

namespace wizard {

namespace {

QPixmap Gradient(int w, int h) {
    QPixmap pm(w, h);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0x2b, 0x4c, 0x7e));
    g.setColorAt(1, QColor(0x56, 0x8e, 0xc9));
    p.fillRect(pm.rect(), g);
    p.setPen(QColor(255, 255, 255, 60));
    for (int i = 0; i < 6; ++i) p.drawEllipse(QPoint(w / 2, h / 3), 18 + i * 16, 18 + i * 16);
    return pm;
}

}  // namespace

QPixmap WizardPicture(WizardPictureKind kind) {
    switch (kind) {
        case WizardPictureKind::Wizard:
        case WizardPictureKind::Watermark: return Gradient(164, 394);
        case WizardPictureKind::Logo: {
            QPixmap pm = Gradient(44, 44);
            return pm;
        }
    }
    return {};
}

QIcon KindIcon(int kind) {
    static const QColor colours[] = {QColor(0x3a, 0x7b, 0xd5), QColor(0xe0, 0x9a, 0x1e), QColor(0x55, 0x55, 0x55),
                                     QColor(0x8e, 0x44, 0xad), QColor(0xc0, 0x39, 0x2b), QColor(0x27, 0xae, 0x60)};
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colours[(kind >= 0 && kind < 6) ? kind : 0]);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
    return QIcon(pm);
}

QWidget* MakeEtchedLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedHeight(2);
    return line;
}

QWidget* MakeSunkenFrame(QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setLineWidth(1);
    return frame;
}

QWidget* MakeAnimation(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedSize(80, 50);
    return label;
}

QByteArray AnimationClip(const char*) { return {}; }
void OpenAnimation(QWidget*, const QString&) {}
void PlayAnimation(QWidget*) {}
void StopAnimation(QWidget*) {}
void CloseAnimation(QWidget*) {}

}  // namespace wizard
