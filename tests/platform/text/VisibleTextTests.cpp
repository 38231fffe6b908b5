#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/text/VisibleText.h"

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

}  // namespace
