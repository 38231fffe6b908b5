#include <gtest/gtest.h>

#include <cstdint>

#include "platform/text/TimeInterval.h"

namespace {

TEST(TimeInterval, SignificantDigitsAcrossTheFields) {
    const struct { uint32_t ms; int digits; const char* text; } rows[] = {
        {34000, 3, "34 sec"}, {90000, 3, "1 min 30 sec"}, {74000, 2, "1 min 10 sec"} /* cut, not rounded */,
        {74000, 1, "1 min"}, {3600000 + 23 * 60000 + 45000, 3, "1 hr 23 min"},
        {3600000 + 2 * 60000 + 45000, 3, "1 hr 2 min 40 sec"}, {3605000, 3, "1 hr 5 sec"} /* no zero minutes */,
        {59600, 3, "1 min"} /* whole seconds first */, {499, 3, "0 sec"},
        {0xFFFFFFFFu, 3, "1190 hr"} /* 1193 hours, three digits kept */, {34000, 0, ""},
    };
    for (const auto& r : rows) EXPECT_EQ(platform::TimeIntervalText(r.ms, r.digits), r.text) << r.ms << " ms, " << r.digits;

    char buf[5];
    EXPECT_EQ(platform::StrFromTimeIntervalA(buf, sizeof buf, 90000, 3), 4);
    EXPECT_STREQ(buf, "1 mi");
    EXPECT_EQ(platform::StrFromTimeIntervalA(buf, 0, 90000, 3), 0);
}

}  // namespace
