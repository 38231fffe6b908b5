// The arithmetic of the progress page: bar value, remaining-time estimate and
// its text, and the tick count it is measured with.
#pragma once

#include <cstdint>
#include <string>

namespace wizard {

// value = DirCount / TotalDirs * 50, halves to even; false when TotalDirs is 0.
bool ProgressValue(int32_t dirCount, int32_t totalDirs, int& value);
// The milliseconds still needed; false when nothing is to be shown (10 s or
// less elapsed, 10 s or less remaining).
bool RemainingEstimate(int32_t totalDirs, int32_t dirCount, int32_t elapsedMs, int32_t& estimateMs);
std::string RemainingText(int32_t ms);
uint32_t RunTicks();

}  // namespace wizard
