#include "wizard/mRunProgress.h"

#include <cmath>
#include <ctime>

namespace wizard {

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

std::string RemainingText(int32_t ms) {
    long secs = std::lround(ms / 1000.0);
    const long h = secs / 3600, m = (secs % 3600) / 60, s = secs % 60;
    std::string out;
    if (h) out += std::to_string(h) + " hr ";
    if (h || m) out += std::to_string(m) + " min ";
    if (!h) out += std::to_string(s) + " sec";
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

uint32_t RunTicks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace wizard
