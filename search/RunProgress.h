// The progress rules of a search run, shared by the wizard's progress page
// and the batch command: the bar value in steps of 2 per cent and the
// remaining-time estimate.
#pragma once

#include <cstdint>

namespace search {

// value = DirCount / TotalDirs * 50, halves to even; false when TotalDirs is 0.
bool ProgressValue(int32_t dirCount, int32_t totalDirs, int& value);
// The milliseconds still needed; false when nothing is to be shown (10 s or
// less elapsed, 10 s or less remaining).
bool RemainingEstimate(int32_t totalDirs, int32_t dirCount, int32_t elapsedMs, int32_t& estimateMs);

}  // namespace search
