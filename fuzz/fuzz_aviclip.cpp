// The animation control's clip reader over arbitrary bytes: load, then decode
// every frame in order and a few out of order.
#include "platform/qt/AviClip.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::AviClip clip;
  if (!clip.Load(data, size)) return 0;
  const size_t n = clip.FrameCount() < 64 ? clip.FrameCount() : 64;
  for (size_t i = 0; i < n; ++i) clip.DecodeFrame(i);
  clip.DecodeFrame(n / 2);
  clip.DecodeFrame(0);
  return 0;
}
