#include "platform/text/TimeInterval.h"

#include <cstring>
#include <ctime>

namespace platform {

namespace {

// Appends one field, spending its significant digits from the budget.
void AddField(std::string& out, uint32_t value, const char* unit, int& digits) {
    int width = 1;
    uint32_t scale = 1;
    while (value / scale >= 10) {
        scale *= 10;
        ++width;
    }
    if (width > digits) {
        uint32_t cut = 1;
        for (int i = 0; i < width - digits; ++i) cut *= 10;
        value = value / cut * cut;
        width = digits;
    }
    digits -= width;
    if (!out.empty()) out += ' ';
    out += std::to_string(value);
    out += ' ';
    out += unit;
}

}  // namespace

std::string TimeIntervalText(uint32_t ms, int digits) {
    std::string out;
    if (digits <= 0) return out;
    const uint32_t secs = static_cast<uint32_t>((static_cast<uint64_t>(ms) + 500) / 1000);
    const uint32_t hours = secs / 3600, minutes = secs % 3600 / 60, seconds = secs % 60;
    // A zero field is left out ("1 hr 5 sec"), but an interval is never blank.
    if (hours) AddField(out, hours, "hr", digits);
    if (digits > 0 && minutes) AddField(out, minutes, "min", digits);
    if (digits > 0 && (seconds || out.empty())) AddField(out, seconds, "sec", digits);
    return out;
}

int StrFromTimeIntervalA(char* buf, uint32_t cchMax, uint32_t ms, int digits) {
    if (!buf || cchMax == 0) return 0;
    const std::string text = TimeIntervalText(ms, digits);
    const std::size_t n = text.size() < cchMax - 1 ? text.size() : cchMax - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

uint32_t GetTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace platform
