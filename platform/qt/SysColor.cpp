#include "platform/qt/SysColor.h"

#include <QGuiApplication>

namespace platform {

bool SysColorRole(uint32_t index, QPalette::ColorRole& role) {
  switch (index) {
    case COLOR_SCROLLBAR: case COLOR_MENU: case COLOR_BTNFACE: case COLOR_INACTIVECAPTION:
      role = QPalette::Button; return true;
    case COLOR_BACKGROUND: case COLOR_WINDOW: role = QPalette::Base; return true;
    case COLOR_ACTIVECAPTION: case COLOR_HIGHLIGHT: role = QPalette::Highlight; return true;
    case COLOR_WINDOWFRAME: case COLOR_3DDKSHADOW: role = QPalette::Shadow; return true;
    case COLOR_MENUTEXT: case COLOR_WINDOWTEXT: role = QPalette::WindowText; return true;
    case COLOR_CAPTIONTEXT: case COLOR_HIGHLIGHTTEXT: role = QPalette::HighlightedText; return true;
    case COLOR_BTNSHADOW: role = QPalette::Dark; return true;
    case COLOR_GRAYTEXT: role = QPalette::PlaceholderText; return true;
    case COLOR_BTNTEXT: case COLOR_INACTIVECAPTIONTEXT: role = QPalette::ButtonText; return true;
    case COLOR_BTNHIGHLIGHT: role = QPalette::Light; return true;
    case COLOR_3DLIGHT: role = QPalette::Midlight; return true;
    case COLOR_INFOTEXT: role = QPalette::ToolTipText; return true;
    case COLOR_INFOBK: role = QPalette::ToolTipBase; return true;
    default: return false;
  }
}

QColor ResolveColor(uint32_t value, const QPalette& pal) {
  if (value & kSysColorFlag) {
    QPalette::ColorRole role;
    if (!SysColorRole(value & ~kSysColorFlag, role)) return QColor(Qt::black);
    return pal.color(QPalette::Active, role);
  }
  return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

uint32_t GetSysColor(uint32_t index) {
  QPalette::ColorRole role;
  if (!SysColorRole(index, role)) return 0;
  const QColor c = QGuiApplication::palette().color(QPalette::Active, role);
  return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

}  // namespace platform
