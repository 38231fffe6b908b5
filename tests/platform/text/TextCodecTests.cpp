#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/text/TextCodec.h"

namespace {

// What iconv makes of bytes: the independent answer.
std::string Iconv(const char* from, const std::string& bytes) {
    char path[] = "/tmp/lv-codec-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "<no temp file>";
    FILE* f = fdopen(fd, "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    const std::string cmd = std::string("iconv -f ") + from + " -t UTF-8 " + path;
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (pclose(p) != 0) out = "<iconv failed>";
    }
    std::remove(path);
    return out;
}

std::span<const uint8_t> Span(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

TEST(TextCodec, Cp1252AgreesWithIconv) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) all += static_cast<char>(b);
    EXPECT_EQ(platform::text::Cp1252ToUtf8(all), Iconv("CP1252", all));
    // The unassigned bytes become the C1 controls, never dropped.
    EXPECT_EQ(platform::text::Cp1252ToUtf8("\x81\x9D"), "\xC2\x81\xC2\x9D");
}

TEST(TextCodec, Utf16AgreesWithIconv) {
    struct Row { const char* what; std::string utf16; std::string expect; };
    const std::string sample("A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10);  // A, é, €, U+1F600
    const std::vector<Row> rows = {
        {"BMP and a pair", sample, Iconv("UTF-16LE", sample)},
        {"lone high surrogate", std::string("\x3D\xD8" "A\0", 4), "\xEF\xBF\xBD" "A"},
        {"lone low surrogate at end", std::string("A\0\x00\xDE", 4), "A\xEF\xBF\xBD"},
        {"odd last byte", std::string("A\0B", 3), "A"},
        {"empty", "", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(platform::text::Utf16LeToUtf8(Span(r.utf16)), r.expect) << r.what;
}

TEST(TextCodec, TextKeepingBytesComesBackByteForByte) {
    // Valid UTF-8 must agree with iconv's UTF-16LE; any other byte must survive the round trip.
    const std::string valid = "/home/\xc3\xa9l\xc3\xa8ve \xe2\x82\xac \xf0\x9f\x98\x80";
    const std::vector<uint8_t> utf16 = platform::text::Utf8ToUtf16LeKeepingBytes(valid);
    EXPECT_EQ(Iconv("UTF-16LE", std::string(utf16.begin(), utf16.end())), valid);
    for (const std::string& s : {std::string("a\xff" "b"), std::string("\xc3"), std::string("\xed\xa0\x80"),
                                 std::string("\xf4\x90\x80\x80"), std::string("\xe2\x82")}) {
        EXPECT_FALSE(platform::text::IsValidUtf8(s)) << s;
        const std::vector<uint8_t> u = platform::text::Utf8ToUtf16LeKeepingBytes(s);
        EXPECT_EQ(platform::text::Utf16LeToUtf8KeepingBytes(u), s) << s;
    }
}
