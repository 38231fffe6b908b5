// PathMatchSpecA stand-in: '*' matches any run, '?' one character (one UTF-8
// sequence), letters compared case-insensitively (ASCII); "*.*" matches every
// name, with or without a dot.
#pragma once

#include <string_view>

namespace platform {

// spec may list several patterns separated by ';', as on Windows; leading
// blanks of each pattern are skipped, trailing ones are kept.
bool PathMatchSpecA(std::string_view name, std::string_view spec);

}  // namespace platform
