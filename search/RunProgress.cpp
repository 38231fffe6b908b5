#include "search/RunProgress.h"

#include <cmath>

namespace search {

bool ProgressValue(int32_t dirCount, int32_t totalDirs, int& value) {
    if (totalDirs <= 0) return false;
    const double v = std::nearbyint(static_cast<double>(dirCount) / totalDirs * 50.0);
    if (v > 1e6 || v < -1e6) return false;
    value = static_cast<int>(v);
    return true;
}

bool RemainingEstimate(int32_t totalDirs, int32_t dirCount, int32_t elapsedMs, int32_t& estimateMs) {
    if (elapsedMs <= 10000 || dirCount <= 0) return false;
    const double e = std::nearbyint(static_cast<double>(totalDirs - dirCount) / dirCount * elapsedMs);
    if (e <= 10000 || e > 2147483647.0) return false;
    estimateMs = static_cast<int32_t>(e);
    return true;
}

}  // namespace search
