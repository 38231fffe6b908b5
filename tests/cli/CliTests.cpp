#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/CliRun.h"

namespace {

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
