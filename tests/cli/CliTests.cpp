#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/CliRun.h"
#include "platform/text/TimeInterval.h"
#include "platform/system/VisibleText.h"

using namespace std::string_literals;

namespace {

// What the batch command prints of a name: controls escaped, bytes that are
// not UTF-8 shown by value, everything else kept.
TEST(VisibleText, ControlsAndBrokenUtf8Escaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"dir/\xc3\xa9t\xc3\xa9 \xe2\x82\xac.dll", "dir/\xc3\xa9t\xc3\xa9 \xe2\x82\xac.dll"},
        {"a\nb\tc\rd\a\b\v\f", "a\\nb\\tc\\rd\\a\\b\\v\\f"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"nul\0x"s, "nul\\x00x"},
        {"del\x7f", "del\\x7f"},
        {"c1 \xc2\x9b" "2J", "c1 \\u009b2J"},
        {"lone \x9b byte", "lone \\x9b byte"},
        {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
        {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
        {"beyond \xf4\x90\x80\x80", "beyond \\xf4\\x90\\x80\\x80"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"\xf0\x9f\x98\x80 back\\slash", "\xf0\x9f\x98\x80 back\\slash"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(platform::VisibleText(in), out) << out;
}

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

// The progress line written into a temporary file.
class Progress : public ::testing::Test {
protected:
    std::FILE* out = std::tmpfile();
    cli::ExtractRun run;
    void SetUp() override {
        ASSERT_NE(out, nullptr);
        run.types = {engine::kFalse, engine::kTrue, engine::kFalse, engine::kFalse, engine::kTrue, engine::kFalse};
    }
    void TearDown() override { std::fclose(out); }
    std::string Written() {
        std::string s;
        std::rewind(out);  // flushes
        for (int c; (c = std::fgetc(out)) != EOF;) s += static_cast<char>(c);
        return s;
    }
};

TEST_F(Progress, PlainLinesOnlyWhenThePercentageMoves) {
    cli::ProgressLine line(out, false);
    line.Begin(1000, 5000);
    run.filesDone = 1;
    run.owner.counts[1] = 3;
    line.Update(run, 5, 5100);     // 0.25 rounds to 0: nothing
    line.Update(run, 10, 5200);    // 0.5 rounds to 0 (halves to even)
    line.Update(run, 30, 5300);    // 1.5 -> 2: 4 %
    line.Update(run, 31, 5400);    // still 2: nothing
    run.filesDone = 2;
    line.Update(run, 250, 35000);  // 12, 30 s after the start: 90 s to go
    line.Update(run, 990, 36000);  // 50, less than 10 s to go: the last estimate stays
    line.Update(run, 1100, 37000); // more than counted: the line stays
    line.Begin(100, 0xFFFFF000u);  // the tick count wraps during this one
    line.Update(run, 20, 9000);    // 13.096 s: 80 / 20 of that to go
    EXPECT_EQ(Written(),
              "4% | 1 file | icon 3, video 0\n"
              "24% | 2 files | icon 3, video 0 | Remaining time: 1 min 30 sec\n"
              "100% | 2 files | icon 3, video 0 | Remaining time: 1 min 30 sec\n"
              "20% | 2 files | icon 3, video 0 | Remaining time: 52 sec\n");
}

TEST_F(Progress, TerminalLineRewritesItselfWithinItsWidth) {
    cli::ProgressLine line(out, true, 26);
    line.Begin(0, 0);  // nothing counted: no percentage
    line.ShowStatus("Counting folders...");
    run.filesDone = 1;
    line.Update(run, 3, 1000);
    line.Update(run, 4, 1050);  // within 100 ms of the last: not drawn
    run.filesDone = 12;
    line.Update(run, 5, 1200);
    line.Break();
    line.Break();  // nothing open any more
    EXPECT_EQ(Written(), "\rCounting folders...\033[K\r1 file | icon 0, video 0\033[K\r12 files | icon 0, video \033[K\n");
}

}  // namespace
