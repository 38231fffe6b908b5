#pragma once
// Colours as 32-bit values: 0x00BBGGRR for a fixed colour, 0x80000000 + n for the
// user's system colour n (Windows numbering), resolved against a Qt palette so
// they follow palette changes.
#include <QColor>
#include <QPalette>
#include <cstdint>

namespace platform {

constexpr uint32_t kSysColorFlag = 0x80000000u;
constexpr uint32_t SysColorRef(uint32_t index) { return kSysColorFlag | index; }

// Windows system-colour indices we translate.
enum SysColorIndex : uint32_t {
  COLOR_SCROLLBAR = 0, COLOR_BACKGROUND = 1, COLOR_ACTIVECAPTION = 2, COLOR_INACTIVECAPTION = 3,
  COLOR_MENU = 4, COLOR_WINDOW = 5, COLOR_WINDOWFRAME = 6, COLOR_MENUTEXT = 7,
  COLOR_WINDOWTEXT = 8, COLOR_CAPTIONTEXT = 9, COLOR_HIGHLIGHT = 13, COLOR_HIGHLIGHTTEXT = 14,
  COLOR_BTNFACE = 15, COLOR_BTNSHADOW = 16, COLOR_GRAYTEXT = 17, COLOR_BTNTEXT = 18,
  COLOR_INACTIVECAPTIONTEXT = 19, COLOR_BTNHIGHLIGHT = 20, COLOR_3DDKSHADOW = 21,
  COLOR_3DLIGHT = 22, COLOR_INFOTEXT = 23, COLOR_INFOBK = 24,
};

// The palette role a system colour index maps to; false for unknown indices.
bool SysColorRole(uint32_t index, QPalette::ColorRole& role);

// Resolves a colour value: system references through `pal` (unknown indices give
// black), plain values as 0x00BBGGRR.
QColor ResolveColor(uint32_t value, const QPalette& pal);

// The system colour n as 0x00BBGGRR, from the application palette (0 for
// unknown indices), as GetSysColor answers.
uint32_t GetSysColor(uint32_t index);

}  // namespace platform
