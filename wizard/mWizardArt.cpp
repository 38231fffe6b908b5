#include "wizard/mWizardArt.h"

#include "platform/qt/Animate.h"
#include "controls/Light3D.h"
#include "resources/Resources.h"

namespace wizard {

QPixmap WizardPicture(WizardPictureKind kind) {
    switch (kind) {
        case WizardPictureKind::Wizard: return resources::Picture(QStringLiteral("imgWizard"));
        case WizardPictureKind::Watermark: return resources::Picture(QStringLiteral("imgWatermark"));
        case WizardPictureKind::Logo: return resources::Picture(QStringLiteral("imgLogo"));
    }
    return {};
}

QIcon KindIcon(int kind) { return resources::KindIcon(kind); }

// Two pixels high the 3D line is an etched separator; larger it is a sunken
// frame that hosts its children inside the edge.
QWidget* MakeEtchedLine(QWidget* parent) {
    auto* line = new Light3D(parent);
    line->SetStyle(true);
    line->setFixedHeight(2);
    return line;
}

QWidget* MakeSunkenFrame(QWidget* parent) {
    auto* frame = new Light3D(parent);
    frame->SetStyle(true);
    return frame;
}

namespace {
platform::Animate* AsAnimate(QWidget* w) { return qobject_cast<platform::Animate*>(w); }
}  // namespace

QWidget* MakeAnimation(QWidget* parent) {
    auto* anim = new platform::Animate(parent);
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

QByteArray AnimationClip(const char* resId) { return resources::ClipBytes(QString::fromLatin1(resId)); }

}  // namespace wizard
