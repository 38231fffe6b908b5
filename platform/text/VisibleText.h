// Text bound for a terminal or a log: a file name may hold anything but '/'
// and NUL, and an escape sequence in one would recolour or rewrite the
// terminal it is printed on.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// text with its control characters shown as escapes: "\n", "\t" and the other
// C escapes, "\x1b" for the rest of C0 and DEL, "\u009b" for the C1 controls;
// a byte that is not part of valid UTF-8 becomes "\xHH". Everything else,
// backslashes included, is kept as it is.
std::string VisibleText(std::string_view text);

}  // namespace platform
