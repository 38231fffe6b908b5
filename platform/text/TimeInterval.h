// StrFromTimeIntervalA and GetTickCount stand-ins.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Writes the interval as hours, minutes and seconds ("1 hr 5 min",
// "1 min 30 sec", "45 sec") into buf (cchMax characters with the NUL) and
// returns the length written. The milliseconds are rounded to whole seconds;
// only the first `digits` significant digits, counted across the fields from
// the left, are kept: the rest of a field becomes zeros and later fields are
// left out. Fields that are zero are not named, except "0 sec" for an
// interval under half a second. digits <= 0 or cchMax 0 gives no text.
int StrFromTimeIntervalA(char* buf, uint32_t cchMax, uint32_t ms, int digits);
std::string TimeIntervalText(uint32_t ms, int digits);

// Milliseconds on a monotonic clock; wraps around like the Windows count.
uint32_t GetTickCount();

}  // namespace platform
