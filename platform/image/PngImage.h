// PNG files: RGBA pixels encoded with libpng, and the size a PNG states.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/image/DibImage.h"

namespace platform {

// The PNG file of image (8-bit RGBA, not interlaced); empty when libpng
// refuses it.
std::vector<uint8_t> EncodePng(const RgbaImage& image);

// Whether bytes start with the PNG signature (an icon image stored as PNG).
bool IsPng(std::span<const uint8_t> bytes);

// Width and height from a PNG's header chunk; empty when it has none.
std::optional<std::pair<uint32_t, uint32_t>> PngSize(std::span<const uint8_t> png);

}  // namespace platform
