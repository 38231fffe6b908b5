// Byte layout of the files the writers produce, checked exactly and with an
// independent decoder.
#include "TestUtil.h"

using namespace t;

namespace {

// ---- Bitmaps ----------------------------------------------------------------

TEST(BitmapHeader, PixelOffsetFollowsColourTableAndMasks) {
    struct Case {
        Bytes dib;
        uint32_t offset;
    } cases[] = {
        {Dib(4, 4, 8, 0), 1078},             // 256 entries by default
        {Dib(4, 4, 8, 16), 118},             // colours used
        {Dib(4, 4, 1, 0), 62},
        {Dib(4, 4, 4, 0), 118},
        {Dib(4, 4, 24, 0), 54},
        {Dib(4, 4, 24, 5), 74},              // 24-bit with a colour table
        {Dib(4, 4, 16, 0, 3), 66},           // bit-field masks
        {Dib(4, 4, 32, 0, 3), 66},
        {Dib(4, 4, 32, 0, 6, 40, 4), 70},    // four masks
        {Dib(4, 4, 8, 0, 1), 1078},          // run-length: as uncompressed
    };
    for (const auto& c : cases) {
        const Bytes h = engine::BuildBitmapFile(c.dib);
        ASSERT_EQ(h.size(), 14u);
        EXPECT_EQ(h[0], 'B');
        EXPECT_EQ(h[1], 'M');
        EXPECT_EQ(G32(h, 2), c.dib.size() + 14);
        EXPECT_EQ(G32(h, 6), 0u);
        EXPECT_EQ(G32(h, 10), c.offset);
    }
}

TEST(BitmapHeader, RefusesWhatIsNoPlainDib) {
    Bytes planes2 = Dib(4, 4, 8);
    planes2[12] = 2;
    const Bytes refused[] = {
        Dib(4, 4, 8, 0, 0, 12), Dib(4, 4, 8, 0, 0, 108), Dib(4, 4, 8, 0, 0, 124),
        Dib(4, -4, 8), Dib(0, 4, 8), Dib(4, 4, 2), planes2,
        Bytes(39, 0),                                // shorter than its header
        Dib(4, 4, 8, 0xFFFFFFFF, 0, 40, 0),          // table far past the data
    };
    for (const auto& d : refused) EXPECT_TRUE(engine::BuildBitmapFile(d).empty());
}

class WriterTest : public EngineTest {};

TEST_F(WriterTest, BitmapFileIsHeaderPlusResourceAndDecodes) {
    const Bytes dib = Dib(5, 3, 8, 0);
    const std::string mod = Module("a.exe", {R(2, 1, dib), R(2, 2, Bytes(30, 1))});
    EXPECT_FALSE(Run(mod, Only(engine::RES_BITMAP)));
    const Bytes f = ReadFile(dest / "Bitmaps/a.exe.bmp");
    ASSERT_EQ(f.size(), dib.size() + 14);
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), f.begin() + 14));
    // The short one wrote nothing and got no count.
    EXPECT_FALSE(fs::exists(dest / "Bitmaps/a.exe (2).bmp"));
    ASSERT_EQ(owner.found.size(), 1u);
    if (!HaveIdentify()) GTEST_SKIP() << "identify not installed";
    EXPECT_EQ(Shell("identify -format '%w %h' '" + (dest / "Bitmaps/a.exe.bmp").string() + "' 2>&1"), "5 3");
}

TEST_F(WriterTest, BitFieldPixelsDecodeAsPixels) {
    // Two 16-bit 5-6-5 pixels, green and blue, after the three masks; the
    // first mask read as pixels would be red.
    Bytes dib = Dib(2, 1, 16, 0, 3, 40, 0);
    dib.resize(40);
    for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) P32(dib, mask);
    P16(dib, 0x07E0);
    P16(dib, 0x001F);
    const std::string mod = Module("a.exe", {R(2, 1, dib)});
    Run(mod, Only(engine::RES_BITMAP));
    EXPECT_EQ(G32(ReadFile(dest / "Bitmaps/a.exe.bmp"), 10), 66u);
    if (!HaveIdentify()) GTEST_SKIP() << "identify not installed";
    EXPECT_EQ(Shell("convert '" + (dest / "Bitmaps/a.exe.bmp").string() +
                    "' -depth 8 -format '%[hex:p{0,0}] %[hex:p{1,0}]' info: 2>&1"),
              "00FF00 0000FF");
}

TEST_F(WriterTest, RawResourcesAreWrittenByteForByte) {
    Bytes html;
    for (int i = 0; i < 256; ++i) html.push_back(uint8_t(i));
    Bytes ani = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'C', 'O', 'N'};
    const std::string mod = Module("a.exe", {R(23, "PAGE.HTM", html), R(21, 7, ani),
                                R("AVI", 3, ani)});
    Run(mod, AllKinds());
    EXPECT_EQ(ReadFile(dest / "Web pages/a.exe - PAGE.HTM"), html);
    EXPECT_EQ(ReadFile(dest / "Animated Cursors/a.exe.ani"), ani);
    EXPECT_EQ(ReadFile(dest / "Videos/a.exe.avi"), ani);
}

// ---- Icons -------------------------------------------------------------------

TEST_F(WriterTest, IconGroupLayout) {
    const Bytes a(744, 0xA1), b(296, 0xB2), c(2216, 0xC3);
    const std::string mod = Module("a.exe", {R(14, 1, IconGroup({{32, 32, 16, 1, 4, 744, 10},
                                                    {16, 16, 16, 1, 4, 296, 11},
                                                    {48, 48, 0, 1, 8, 2216, 12}})),
                                R(3, 10, a), R(3, 11, b), R(3, 12, c)});
    Run(mod, Only(engine::RES_ICON));
    const Bytes f = ReadFile(dest / "Icons/a.exe.ico");
    ASSERT_EQ(f.size(), 3310u);
    EXPECT_EQ(G16(f, 2), 1);
    EXPECT_EQ(G16(f, 4), 3);
    const uint32_t offsets[] = {54, 798, 1094}, sizes[] = {744, 296, 2216};
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(G16(f, 6 + 16 * j + 4), 1);
        EXPECT_EQ(G32(f, 6 + 16 * j + 8), sizes[j]);
        EXPECT_EQ(G32(f, 6 + 16 * j + 12), offsets[j]);
    }
    EXPECT_EQ(f[54], 0xA1);
    EXPECT_EQ(f[798], 0xB2);
    EXPECT_EQ(f[1094], 0xC3);
    ASSERT_EQ(owner.found.size(), 1u);
    EXPECT_EQ(owner.found[0].kind, engine::RES_ICON);
}

TEST_F(WriterTest, IconDirectoryDescribesTheImagesActuallyWritten) {
    // The group claims sizes its members do not have; the file must still
    // point at each image.
    const Bytes big = IconImage(16, 16), small = IconImage(8, 8);
    const std::string mod = Module("a.exe", {R(14, 1, IconGroup({{16, 16, 0, 1, 32, 100, 1}, {8, 8, 0, 1, 32, 5000, 2}})),
                                R(3, 1, big), R(3, 2, small)});
    Run(mod, Only(engine::RES_ICON));
    const Bytes f = ReadFile(dest / "Icons/a.exe.ico");
    ASSERT_EQ(f.size(), 38 + big.size() + small.size());
    EXPECT_EQ(G32(f, 6 + 8), big.size());
    EXPECT_EQ(G32(f, 6 + 12), 38u);
    EXPECT_EQ(G32(f, 22 + 8), small.size());
    EXPECT_EQ(G32(f, 22 + 12), 38 + big.size());
    if (!HaveIdentify()) GTEST_SKIP() << "identify not installed";
    EXPECT_EQ(Shell("identify -format '%w %h\\n' '" + (dest / "Icons/a.exe.ico").string() + "' 2>&1"),
              "16 16\n8 8\n");
}

TEST_F(WriterTest, IconGroupsRefusedAsAWhole) {
    const Bytes img = IconImage(16, 16);
    const uint32_t n = uint32_t(img.size());
    Bytes truncated = IconGroup({{16, 16, 0, 1, 32, n, 1}, {16, 16, 0, 1, 32, n, 1}});
    truncated.resize(6 + 14 + 5);  // claims two entries, holds one and a bit
    const Bytes groups[] = {
        IconGroup({{16, 16, 17, 1, 32, n, 1}}),               // colour count 17
        IconGroup({{16, 16, 0, 0, 32, n, 1}}),                // planes 0
        IconGroup({{16, 16, 0, 1, 2, n, 1}}),                 // 2 bits per pixel
        IconGroup({{16, 16, 0, 1, 32, 0, 1}}),                // size 0
        IconGroup({{16, 16, 0, 1, 32, 0x80000000u, 1}}),      // negative size
        IconGroup({{16, 16, 0, 1, 32, n, 1}, {16, 16, 0, 1, 32, n, 99}}),  // member missing
        IconGroup({{16, 16, 0, 1, 32, n, 1}}, 2),             // cursor type byte
        IconGroup({}),                                        // count 0
        truncated,
        Bytes{0, 0, 1},
    };
    uint16_t name = 1;
    std::vector<Res> res{R(3, 1, img)};
    for (const auto& g : groups) res.push_back(R(14, name++, g));
    const std::string mod = Module("a.exe", res);
    EXPECT_FALSE(Run(mod, Only(engine::RES_ICON)));
    EXPECT_TRUE(Files("Icons").empty());
    EXPECT_TRUE(owner.found.empty());
}

TEST_F(WriterTest, MemberIdsAreLookedUpAsIntegers) {
    const Bytes img = IconImage(16, 16);
    const std::string mod = Module("a.exe", {R(14, "MAIN", IconGroup({{16, 16, 0, 1, 32, uint32_t(img.size()), 40000}})),
                                R(3, 40000, img)});
    Run(mod, Only(engine::RES_ICON));
    const Bytes f = ReadFile(dest / "Icons/a.exe.ico");
    ASSERT_EQ(f.size(), 22 + img.size());
    EXPECT_TRUE(std::equal(img.begin(), img.end(), f.begin() + 22));
}

TEST_F(WriterTest, MembersSharingOneLargeImageAreNotAllHeldAtOnce) {
    // Sixteen member IDs whose directory leaves all point at one 4 MB image:
    // a small module, but held member by member it needs 64 MB.
    const int n = 16;
    const Bytes big = IconImage(1024, 1024);
    std::vector<IconEntry> entries;
    testsupport::PeBuilder b;
    for (int i = 1; i <= n; ++i) {
        entries.push_back({0, 0, 0, 1, 32, uint32_t(big.size()), uint16_t(i)});
        b.Add(platform::ResId::Int(3), platform::ResId::Int(uint16_t(i)), 0, {0});
    }
    b.Add(platform::ResId::Int(3), platform::ResId::Int(1000), 0, big);
    b.Add(platform::ResId::Int(14), platform::ResId::Int(1), 0, IconGroup(entries));
    Bytes image = b.Build();
    using B = testsupport::PeBuilder;
    const uint32_t rs = b.rsrcOffset, icons = rs + (B::Get32(image, rs + 20) & 0x7FFFFFFF);
    auto leaf = [&](int i) {
        const uint32_t lang = rs + (B::Get32(image, icons + 16 + 8 * i + 4) & 0x7FFFFFFF);
        return rs + B::Get32(image, lang + 20);
    };
    for (int i = 0; i < n; ++i) {
        B::Put32(image, leaf(i), B::Get32(image, leaf(n)));
        B::Put32(image, leaf(i) + 4, B::Get32(image, leaf(n) + 4));
    }
    const std::string mod = (root / "apps/a.exe").string();
    ASSERT_TRUE(B::WriteFile(mod, image));

    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(Run(mod, Only(engine::RES_ICON)));
    getrusage(RUSAGE_SELF, &after);
    if (kMemoryMeasurable) EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 44 * 1024);
    const Bytes f = ReadFile(dest / "Icons/a.exe.ico");
    const size_t first = 6 + 16 * n;
    ASSERT_EQ(f.size(), first + n * big.size());
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(G32(f, 6 + 16 * i + 12), first + i * big.size());
        EXPECT_TRUE(std::equal(big.begin(), big.begin() + 64, f.begin() + first + i * big.size())) << i;
    }
    EXPECT_EQ(owner.found.size(), 1u);
    // The disk filling up halfway: the part written is removed.
    platform::SetFileFaultHook([k = 0](platform::FileOp op, const std::string&) mutable {
        return platform::FaultDecision{op == platform::FileOp::Write && ++k == 3 ? ENOSPC : 0};
    });
    EXPECT_TRUE(Run(mod, Only(engine::RES_ICON)));
    EXPECT_EQ(box.prompts.size(), 1u);
    EXPECT_EQ(Files("Icons"), (std::vector<std::string>{"__index.txt", "a.exe.ico"}));
}

// ---- Cursors -----------------------------------------------------------------

TEST_F(WriterTest, CursorGroupLayout) {
    const Bytes m = CursorMember(32, 32, 5, 7);
    ASSERT_EQ(m.size(), 308u);
    const std::string mod = Module("a.exe", {R(12, 1, CursorGroup({{32, 64, 1, 1, 308, 2}})), R(1, 2, m)});
    Run(mod, Only(engine::RES_CURSOR));
    const Bytes f = ReadFile(dest / "Cursors/a.exe.cur");
    ASSERT_EQ(f.size(), 326u);
    EXPECT_EQ(G16(f, 2), 2);
    EXPECT_EQ(f[6], 32);
    EXPECT_EQ(f[7], 32);
    EXPECT_EQ(f[8], 2);
    EXPECT_EQ(f[9], 0);
    EXPECT_EQ(G16(f, 10), 5);
    EXPECT_EQ(G16(f, 12), 7);
    EXPECT_EQ(G32(f, 14), 304u);  // the image as written, without the hotspot
    EXPECT_EQ(G32(f, 18), 22u);
    EXPECT_TRUE(std::equal(m.begin() + 4, m.end(), f.begin() + 22));
    if (!HaveIdentify()) GTEST_SKIP() << "identify not installed";
    EXPECT_EQ(Shell("identify -format '%w %h' '" + (dest / "Cursors/a.exe.cur").string() + "' 2>&1"), "32 32");
}

TEST_F(WriterTest, CursorHeightComesFromTheImageHeader) {
    // A group that stores the height undoubled (32 for a 32x32 cursor) and
    // a size that disagrees with its member; then a PNG member without a
    // bitmap header.
    const Bytes m = CursorMember(32, 32, 0, 0);
    Bytes png = {0, 0, 0, 0, 0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    const std::string mod = Module("a.exe", {R(12, 1, CursorGroup({{32, 32, 1, 1, 999, 2}, {24, 48, 1, 32, 12, 3}})),
                                             R(1, 2, m), R(1, 3, png)});
    Run(mod, Only(engine::RES_CURSOR));
    const Bytes f = ReadFile(dest / "Cursors/a.exe.cur");
    ASSERT_EQ(f.size(), 38u + 304 + 8);
    EXPECT_EQ(f[7], 32);           // from the DIB: 64 / 2
    EXPECT_EQ(G32(f, 6 + 8), 304u);
    EXPECT_EQ(f[6 + 16 + 1], 24);  // no DIB: the group's 48 / 2
    EXPECT_EQ(G32(f, 6 + 16 + 8), 8u);
    EXPECT_EQ(G32(f, 6 + 16 + 12), 38u + 304);
}

TEST_F(WriterTest, MultiImageCursorDecodes) {
    // Sizes in the group are those of the members with their hotspots; the
    // file holds the images without them, so every offset must move back.
    const Bytes big = CursorMember(32, 32, 3, 4), small = CursorMember(16, 16, 1, 2);
    const std::string mod = Module("a.exe", {R(12, 1, CursorGroup({{32, 64, 1, 1, uint32_t(big.size()), 1},
                                                                    {16, 32, 1, 1, uint32_t(small.size()), 2}})),
                                             R(1, 1, big), R(1, 2, small)});
    Run(mod, Only(engine::RES_CURSOR));
    const Bytes f = ReadFile(dest / "Cursors/a.exe.cur");
    ASSERT_EQ(f.size(), 38 + big.size() - 4 + small.size() - 4);
    EXPECT_EQ(G32(f, 22 + 12), 38 + big.size() - 4);
    EXPECT_EQ(G16(f, 22 + 4), 1);
    EXPECT_EQ(G16(f, 22 + 6), 2);
    if (!HaveIdentify()) GTEST_SKIP() << "identify not installed";
    EXPECT_EQ(Shell("identify -format '%w %h\\n' '" + (dest / "Cursors/a.exe.cur").string() + "' 2>&1"),
              "32 32\n16 16\n");
}

TEST_F(WriterTest, CursorGroupsRefusedAsAWhole) {
    const Bytes m = CursorMember(32, 32, 1, 1);
    const Bytes groups[] = {
        CursorGroup({{32, 128, 1, 1, 308, 1}}),  // taller than 63
        CursorGroup({{0, 64, 1, 1, 308, 1}}),
        CursorGroup({{256, 64, 1, 1, 308, 1}}),
        CursorGroup({{32, 64, 2, 1, 308, 1}}),
        CursorGroup({{32, 64, 1, 1, 0, 1}}),
        CursorGroup({{32, 64, 1, 1, 308, 9}}),   // member missing
        CursorGroup({{32, 64, 1, 1, 308, 2}}),   // member of four bytes
    };
    uint16_t name = 1;
    std::vector<Res> res{R(1, 1, m), R(1, 2, Bytes{1, 2, 3, 4})};
    for (const auto& g : groups) res.push_back(R(12, name++, g));
    const std::string mod = Module("a.exe", res);
    Run(mod, Only(engine::RES_CURSOR));
    EXPECT_TRUE(Files("Cursors").empty());
    EXPECT_TRUE(owner.found.empty());
}

}  // namespace
