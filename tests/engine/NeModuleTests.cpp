// 16-bit NE modules through the engine: their icons, cursors and bitmaps come
// out whole, without the padding the module stores after each image.
#include "TestUtil.h"

using namespace t;

namespace {

// A bottom-up DIB with the 12-byte core header of 16-bit modules: 16-bit
// sizes, a colour table of 3-byte entries, then the rows.
Bytes CoreDib(uint16_t w, uint16_t h, uint16_t bpp) {
    Bytes b;
    P32(b, 12), P16(b, w), P16(b, h), P16(b, 1), P16(b, bpp);
    for (uint32_t i = 0; i < (1u << bpp); ++i) b.insert(b.end(), {uint8_t(i * 17), uint8_t(255 - i * 17), uint8_t(i * 5)});
    const uint32_t stride = (uint32_t(w) * bpp + 31) / 32 * 4;
    for (uint32_t i = 0; i < stride * h; ++i) b.push_back(uint8_t(i * 11));
    return b;
}

std::vector<fs::path> Written(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename() != "__index.txt") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST_F(EngineTest, SixteenBitModulesGiveTheirImages) {
    const Bytes small = IconImage(16, 16), large = IconImage(32, 32), cursor = CursorMember(32, 32, 5, 7);
    const Bytes core = CoreDib(9, 5, 4), info = Dib(10, 6, 8);
    const auto n = [](const Bytes& b) { return uint32_t(b.size()); };
    for (uint16_t shift : {4, 9}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        TearDown(), SetUp();
        const std::string module = NeModule("app.exe", {
            R(14, "MAINICON", IconGroup({{16, 16, 0, 1, 32, n(small), 1}, {32, 32, 0, 1, 32, n(large), 2}})),
            R(3, 1, small), R(3, 2, large),
            R(12, 5, CursorGroup({{32, 64, 1, 1, n(cursor), 3}})), R(1, 3, cursor),
            R(2, "CORE", core), R(2, 7, info)}, shift);
        ASSERT_FALSE(Run(module, AllKinds()));  // no write error
        const auto icons = Written(dest / "Icons"), cursors = Written(dest / "Cursors"), bitmaps = Written(dest / "Bitmaps");
        ASSERT_EQ((std::vector{icons.size(), cursors.size(), bitmaps.size()}), (std::vector<std::size_t>{1, 1, 2}));
        // Each image's own bytes, never the padding after it.
        EXPECT_EQ(fs::file_size(icons[0]), 6 + 32 + small.size() + large.size());
        EXPECT_EQ(fs::file_size(cursors[0]), 6 + 16 + cursor.size() - 4);
        EXPECT_EQ(G32(ReadFile(cursors[0]), 6 + 4), 5u | 7u << 16);  // hotspot
        if (!HaveIdentify()) GTEST_SKIP() << "identify not installed";
        EXPECT_EQ(Identify(icons[0]), "16 16\n32 32\n");
        EXPECT_EQ(Identify(cursors[0]), "32 32\n");
        EXPECT_EQ(Identify(bitmaps[0]) + Identify(bitmaps[1]), "10 6\n9 5\n");  // "app.exe (2).bmp" sorts first
    }
}
