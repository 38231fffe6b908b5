#include "resources/Resources.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

// The resource data sits in a static library: registering it by hand keeps the
// linker from dropping it, whatever links this library.
static void InitLoomvaleResources() { Q_INIT_RESOURCE(loomvale); }

namespace resources {

namespace {

const QString kRoot = QStringLiteral(":/loomvale/");
const char* const kKindNames[] = {"bitmap", "icon", "cursor", "anicursor", "video", "html"};

void EnsureLoaded() {
  static const bool once = [] {
    InitLoomvaleResources();
    return true;
  }();
  (void)once;
}

bool IsPictureName(const QString& name) {
  return name == QLatin1String("imgWizard") || name == QLatin1String("imgWatermark") ||
         name == QLatin1String("imgLogo");
}

}  // namespace

QPixmap Picture(const QString& name, qreal devicePixelRatio) {
  EnsureLoaded();
  if (!IsPictureName(name)) return {};
  if (devicePixelRatio <= 0) devicePixelRatio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
  if (devicePixelRatio > 1.0) {
    QPixmap big(kRoot + name + QStringLiteral("@2x.png"));
    if (!big.isNull()) {
      big.setDevicePixelRatio(2.0);
      return big;
    }
  }
  return QPixmap(kRoot + name + QStringLiteral(".png"));
}

QIcon KindIcon(int kind) {
  EnsureLoaded();
  if (kind < 0 || kind >= int(std::size(kKindNames))) return {};
  QIcon icon;
  for (int size : {16, 32})
    icon.addFile(kRoot + QStringLiteral("kind-%1-%2.png").arg(QLatin1String(kKindNames[kind])).arg(size),
                 QSize(size, size));
  return icon;
}

QByteArray ClipBytes(const QString& name) {
  EnsureLoaded();
  if (name != QLatin1String("FINDFILES")) return {};
  QFile file(kRoot + name + QStringLiteral(".avi"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

QStringList Files() {
  EnsureLoaded();
  return QDir(kRoot).entryList(QDir::Files, QDir::Name);
}

}  // namespace resources
