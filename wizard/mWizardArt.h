// The window's pictures, kind icons, 3D lines and animation, in one place so
// the window does not care which widgets stand behind them.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

namespace wizard {

enum class WizardPictureKind { Wizard, Watermark, Logo };

QPixmap WizardPicture(WizardPictureKind kind);
QIcon KindIcon(int kind);
// A two-pixel etched separator line.
QWidget* MakeEtchedLine(QWidget* parent);
// A sunken one-pixel frame that hosts other widgets.
QWidget* MakeSunkenFrame(QWidget* parent);

// The animation control and the program's own clips.
QWidget* MakeAnimation(QWidget* parent);
QByteArray AnimationClip(const char* resId);
void OpenAnimation(QWidget* anim, const QString& path);
void PlayAnimation(QWidget* anim);
void StopAnimation(QWidget* anim);
void CloseAnimation(QWidget* anim);

}  // namespace wizard
