#include "wizard/mWizardArt.h"

#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>

#ifdef LOOMVALE_HAVE_RESOURCES
#include "resources/Resources.h"
#endif
#ifdef LOOMVALE_HAVE_CONTROLS
#include "controls/Animate.h"
#include "controls/Light3D.h"
#endif

namespace wizard {

#ifndef LOOMVALE_HAVE_RESOURCES
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
#endif

QPixmap WizardPicture(WizardPictureKind kind) {
#ifdef LOOMVALE_HAVE_RESOURCES
    switch (kind) {
        case WizardPictureKind::Wizard: return resources::Picture(QStringLiteral("imgWizard"));
        case WizardPictureKind::Watermark: return resources::Picture(QStringLiteral("imgWatermark"));
        case WizardPictureKind::Logo: return resources::Picture(QStringLiteral("imgLogo"));
    }
    return {};
#else
    switch (kind) {
        case WizardPictureKind::Wizard:
        case WizardPictureKind::Watermark: return Gradient(164, 394);
        case WizardPictureKind::Logo: {
            QPixmap pm = Gradient(44, 44);
            return pm;
        }
    }
    return {};
#endif
}

QIcon KindIcon(int kind) {
#ifdef LOOMVALE_HAVE_RESOURCES
    return resources::KindIcon(kind);
#else
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
#endif
}

#ifdef LOOMVALE_HAVE_CONTROLS
// Two pixels high the 3D line is an etched separator; larger it is a sunken
// frame that hosts its children inside the edge.
QWidget* MakeEtchedLine(QWidget* parent) {
    auto* line = new loomvale::Light3D(parent);
    line->SetStyle(true);
    line->setFixedHeight(2);
    return line;
}

QWidget* MakeSunkenFrame(QWidget* parent) {
    auto* frame = new loomvale::Light3D(parent);
    frame->SetStyle(true);
    return frame;
}
#else
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

#endif

#ifdef LOOMVALE_HAVE_CONTROLS
namespace {
loomvale::Animate* AsAnimate(QWidget* w) { return qobject_cast<loomvale::Animate*>(w); }
}  // namespace

QWidget* MakeAnimation(QWidget* parent) {
    auto* anim = new loomvale::Animate(parent);
    // Room for the search clip; its page-coloured background lets the page show through.
    anim->setFixedSize(272, 60);
    anim->SetCenter(true);
    anim->SetTransparent(true);
    return anim;
}

void OpenAnimation(QWidget* anim, const QString& path) {
    if (auto* a = AsAnimate(anim)) a->Open(path);
}
void PlayAnimation(QWidget* anim) {
    if (auto* a = AsAnimate(anim)) a->Play();
}
void StopAnimation(QWidget* anim) {
    if (auto* a = AsAnimate(anim)) a->Stop();
}
void CloseAnimation(QWidget* anim) {
    if (auto* a = AsAnimate(anim)) a->Close();
}
#else
QWidget* MakeAnimation(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedSize(80, 50);
    return label;
}

void OpenAnimation(QWidget*, const QString&) {}
void PlayAnimation(QWidget*) {}
void StopAnimation(QWidget*) {}
void CloseAnimation(QWidget*) {}
#endif

QByteArray AnimationClip(const char* resId) {
#ifdef LOOMVALE_HAVE_RESOURCES
    return resources::ClipBytes(QString::fromLatin1(resId));
#else
    (void)resId;
    return {};
#endif
}

}  // namespace wizard
