#pragma once
// The program's own resources, embedded in the executable: the wizard's
// pictures, the six kind icons and the clips for the animation control.
#include <QByteArray>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace resources {

// "imgWizard", "imgWatermark" or "imgLogo"; a null pixmap for any other name.
// The double-size drawing is used when the ratio (the application's when 0) is
// above 1.
QPixmap Picture(const QString& name, qreal devicePixelRatio = 0);
// The kind's icon (0 bitmap ... 5 web page) in 16 and 32 pixels; null when the
// kind is out of range.
QIcon KindIcon(int kind);
// The bytes of the clip ("FINDFILES"), an AVI file; empty for an unknown name.
QByteArray ClipBytes(const QString& name);
// Every resource file embedded, for checks.
QStringList Files();

}  // namespace resources
