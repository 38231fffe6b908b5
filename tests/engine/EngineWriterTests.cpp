// Byte layout of the files the writers produce, checked exactly and with an independent decoder.
#include "TestUtil.h"

using namespace t;

namespace {

// A DIB whose header has the given size: 12 is the core form (16-bit
// sizes, 3-byte colours); 52..124 extend the 40-byte fields with zeros.
Bytes DibForm(uint32_t headerSize, int32_t w, int32_t h, uint16_t bpp, uint32_t coloursUsed = 0,
              uint32_t compression = 0) {
    if (headerSize != 12) {
        Bytes d = Dib(w, h, bpp, coloursUsed, compression, headerSize);
        d.insert(d.begin() + 40, headerSize - 40, 0);
        return d;
    }
    Bytes b;
    P32(b, 12), P16(b, uint32_t(w)), P16(b, uint32_t(h)), P16(b, 1), P16(b, bpp);
    b.resize(b.size() + (bpp <= 8 ? 3u << bpp : 0) + 64, 0x5A);
    return b;
}

Bytes Cut(Bytes b, size_t n) { return b.resize(n), b; }

TEST(BitmapHeader, PixelOffsetFollowsHeaderColourTableAndMasks) {
    struct Row { const char* what; Bytes dib; uint32_t offset; };
    const Row rows[] = {
        {"8 bit, 256 entries by default", Dib(4, 4, 8), 1078}, {"8 bit, colours used", Dib(4, 4, 8, 16), 118},
        {"1 bit", Dib(4, 4, 1), 62}, {"4 bit", Dib(4, 4, 4), 118}, {"24 bit", Dib(4, 4, 24), 54},
        {"24 bit with a colour table", Dib(4, 4, 24, 5), 74}, {"16 bit, three masks", Dib(4, 4, 16, 0, 3), 66},
        {"32 bit, three masks", Dib(4, 4, 32, 0, 3), 66}, {"32 bit, four masks", Dib(4, 4, 32, 0, 6, 40, 4), 70},
        {"run-length 8", Dib(4, 4, 8, 0, 1), 1078}, {"run-length 4", Dib(4, 4, 4, 0, 2), 118},
        {"top-down", Dib(4, -4, 8), 1078}, {"core 1 bit", DibForm(12, 4, 4, 1), 32},
        {"core 8 bit", DibForm(12, 4, 4, 8), 794}, {"core 24 bit", DibForm(12, 4, 4, 24), 26},
        {"V2, masks in the header", DibForm(52, 4, 4, 16, 0, 3), 66},
        {"V3, masks in the header", DibForm(56, 4, 4, 32, 0, 6), 70},
        {"V4 8 bit", DibForm(108, 4, 4, 8, 16), 186}, {"V5 32 bit bit fields", DibForm(124, 4, -4, 32, 0, 3), 138},
    };
    for (const auto& r : rows) {
        Bytes want = {'B', 'M'};
        P32(want, uint32_t(r.dib.size() + 14)), P32(want, 0), P32(want, r.offset);
        EXPECT_EQ(engine::BuildBitmapFile(r.dib), want) << r.what;
    }
    Bytes planes2 = Dib(4, 4, 8), corePlanes = DibForm(12, 4, 4, 8), widthNeg = Dib(4, 4, 8);
    planes2[12] = 2, corePlanes[8] = 0, widthNeg[7] = 0xFF;
    const std::pair<const char*, Bytes> refused[] = {
        {"header 64", DibForm(64, 4, 4, 8)}, {"header 16", Dib(4, 4, 8, 0, 0, 16)},
        {"height 0", Dib(4, 0, 8)}, {"width 0", Dib(0, 4, 8)}, {"width negative", widthNeg},
        {"core width 0", DibForm(12, 0, 4, 8)}, {"core height 0", DibForm(12, 4, 0, 8)},
        {"2 bit", Dib(4, 4, 2)}, {"planes 2", planes2}, {"core planes 0", corePlanes},
        {"JPEG", Dib(4, 4, 24, 0, 4)}, {"PNG", Dib(4, 4, 24, 0, 5)}, {"compression 7", Dib(4, 4, 24, 0, 7)},
        {"shorter than its header", Bytes(39, 0)},
        {"V5 header cut", Cut(DibForm(124, 4, 4, 24), 100)},
        {"core header cut", Bytes{12, 0, 0, 0, 4, 0, 4, 0, 1, 0, 8}},
        {"table far past the data", Dib(4, 4, 8, 0xFFFFFFFF, 0, 40, 0)},
        {"core table past the data", Cut(DibForm(12, 4, 4, 8), 700)},
    };
    for (const auto& [what, d] : refused) EXPECT_TRUE(engine::BuildBitmapFile(d).empty()) << what;
}

class WriterTest : public EngineTest {};

TEST_F(WriterTest, BitmapsAndRawResources) {
    const Bytes dib = Dib(5, 3, 8);
    // Two 16-bit 5-6-5 pixels, green and blue, after the three masks; the
    // first mask read as pixels would be red.
    Bytes fields = Dib(2, 1, 16, 0, 3, 40, 0);
    fields.resize(40);
    for (uint32_t v : {0xF800u, 0x07E0u, 0x001Fu, 0x001F07E0u}) P32(fields, v);
    const Bytes html = {0, 1, 0x7F, 0xFF, '\r', '\n', 0x1A, 0};
    const Bytes ani = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'C', 'O', 'N'};
    EXPECT_FALSE(Run(Module("a.exe", {R(2, 1, dib), R(2, 2, Bytes(30, 1)), R(2, 3, fields), R(23, "PAGE.HTM", html),
                                      R(21, 7, ani), R("AVI", 3, ani)}), AllKinds()));
    const Bytes f = ReadFile(dest / "Bitmaps/a.exe.bmp");
    ASSERT_EQ(f.size(), dib.size() + 14);
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), f.begin() + 14));
    EXPECT_EQ(ReadFile(dest / "Web pages/a.exe - PAGE.HTM"), html);
    EXPECT_EQ(ReadFile(dest / "Animated Cursors/a.exe.ani"), ani);
    EXPECT_EQ(ReadFile(dest / "Videos/a.exe.avi"), ani);
    // The short bitmap wrote nothing and got no count.
    EXPECT_EQ(Files("Bitmaps"), (std::vector<std::string>{"__index.txt", "a.exe (2).bmp", "a.exe.bmp"}));
    EXPECT_EQ(owner.found.size(), 5u);
    ASSERT_TRUE(HaveIdentify());
    EXPECT_EQ(Identify(dest / "Bitmaps/a.exe.bmp", "%w %h"), "5 3");
    EXPECT_EQ(Identify(dest / "Bitmaps/a.exe (2).bmp", "%[hex:p{0,0}] %[hex:p{1,0}]"), "00FF00 0000FF");
}

TEST_F(WriterTest, IconDirectoryDescribesTheImagesWritten) {
    // The first member is stored padded past its group figure: only the
    // figure's bytes are its image. The second is stored shorter than its
    // figure: its stored bytes, never more. Member IDs past 32767 are
    // still integers.
    const Bytes big = IconImage(16, 16), small = IconImage(8, 8);
    Bytes padded = big;
    padded.resize(big.size() + 13, 0xEE);
    Run(Module("a.exe", {R(14, "MAIN", IconGroup({{16, 16, 0, 1, 32, uint32_t(big.size()), 1}, {8, 8, 0, 1, 32, 5000, 40000}})),
                         R(3, 1, padded), R(3, 40000, small)}), Only(engine::RES_ICON));
    const Bytes f = ReadFile(dest / "Icons/a.exe.ico");
    ASSERT_EQ(f.size(), 38 + big.size() + small.size());
    EXPECT_EQ(G32(f, 2), 1u | 2u << 16);  // icon type, two images
    const size_t sizes[] = {big.size(), small.size()}, offsets[] = {38, 38 + big.size()};
    for (int j = 0; j < 2; ++j) {
        EXPECT_EQ(G32(f, 6 + 16 * j + 8), sizes[j]);
        EXPECT_EQ(G32(f, 6 + 16 * j + 12), offsets[j]);
    }
    EXPECT_TRUE(std::equal(small.begin(), small.end(), f.begin() + offsets[1]));
    ASSERT_EQ(owner.found.size(), 1u);
    EXPECT_EQ(owner.found[0].kind, engine::RES_ICON);
    ASSERT_TRUE(HaveIdentify());
    EXPECT_EQ(Identify(dest / "Icons/a.exe.ico"), "16 16\n8 8\n");
}

TEST_F(WriterTest, GroupsRefusedAsAWhole) {
    const Bytes img = IconImage(16, 16);
    const uint32_t n = uint32_t(img.size());
    Bytes truncated = IconGroup({{16, 16, 0, 1, 32, n, 1}, {16, 16, 0, 1, 32, n, 1}});
    truncated.resize(6 + 14 + 5);  // claims two entries, holds one and a bit
    const Bytes icons[] = {
        IconGroup({{16, 16, 17, 1, 32, n, 1}}), IconGroup({{16, 16, 0, 0, 32, n, 1}}),  // 17 colours, 0 planes
        IconGroup({{16, 16, 0, 1, 2, n, 1}}),                 // 2 bits per pixel
        IconGroup({{16, 16, 0, 1, 32, 0, 1}}), IconGroup({{16, 16, 0, 1, 32, 0x80000000u, 1}}),  // size 0, negative
        IconGroup({{16, 16, 0, 1, 32, n, 1}, {16, 16, 0, 1, 32, n, 99}}),  // member missing
        IconGroup({{16, 16, 0, 1, 32, n, 1}}, 2),             // cursor type
        IconGroup({}), truncated, Bytes{0, 0, 1},
    };
    const Bytes cursors[] = {
        CursorGroup({{32, 514, 1, 1, 308, 1}}),  // taller than 256 even halved
        CursorGroup({{0, 64, 1, 1, 308, 1}}),   CursorGroup({{257, 64, 1, 1, 308, 1}}),
        CursorGroup({{32, 64, 2, 1, 308, 1}}),  CursorGroup({{32, 64, 1, 1, 0, 1}}),
        CursorGroup({{32, 64, 1, 1, 308, 9}}),   // member missing
        CursorGroup({{32, 64, 1, 1, 308, 2}}),   // member of four bytes
        CursorGroup({{32, 64, 1, 1, 4, 1}}),     // figure leaves no image
    };
    std::vector<Res> res{R(3, 1, img), R(1, 1, CursorMember(32, 32, 1, 1)), R(1, 2, Bytes{1, 2, 3, 4})};
    for (const auto& g : icons) res.push_back(R(14, uint16_t(res.size()), g));
    for (const auto& g : cursors) res.push_back(R(12, uint16_t(res.size()), g));
    EXPECT_FALSE(Run(Module("a.exe", res), AllKinds()));
    // The index names any group let through by its resource ID.
    for (const char* k : {"Icons", "Cursors"}) EXPECT_TRUE(Files(k).empty()) << ReadText(dest / k / "__index.txt");
    EXPECT_TRUE(owner.found.empty());
}

TEST_F(WriterTest, MembersSharingOneLargeImageAreNotAllHeldAtOnce) {
    // Sixteen member IDs whose directory leaves all point at one 4 MB image:
    // a small module, but held member by member it needs 64 MB.
    using B = testsupport::PeBuilder;
    const int n = 16;
    const Bytes big = IconImage(1024, 1024);
    std::vector<IconEntry> entries;
    B b;
    for (int i = 1; i <= n; ++i) {
        entries.push_back({0, 0, 0, 1, 32, uint32_t(big.size()), uint16_t(i)});
        b.Add(Id(3), Id(uint16_t(i)), 0, {0});
    }
    b.Add(Id(3), Id(1000), 0, big);
    b.Add(Id(14), Id(1), 0, IconGroup(entries));
    Bytes image = b.Build();
    const uint32_t rs = b.rsrcOffset, icons = rs + (B::Get32(image, rs + 20) & 0x7FFFFFFF);
    auto leaf = [&](int i) { return rs + B::Get32(image, rs + (B::Get32(image, icons + 20 + 8 * i) & 0x7FFFFFFF) + 20); };
    for (int i = 0; i < n; ++i)
        for (int k : {0, 4}) B::Put32(image, leaf(i) + k, B::Get32(image, leaf(n) + k));
    const std::string mod = Write("a.exe", image);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(Run(mod, Only(engine::RES_ICON)));
    getrusage(RUSAGE_SELF, &after);
#ifndef LV_NO_RSS
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 44 * 1024);
#endif
    const Bytes f = ReadFile(dest / "Icons/a.exe.ico");
    const size_t first = 6 + 16 * n;
    ASSERT_EQ(f.size(), first + n * big.size());
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(G32(f, 6 + 16 * i + 12), first + i * big.size());
        EXPECT_TRUE(std::equal(big.begin(), big.begin() + 64, f.begin() + first + i * big.size())) << i;
    }
}

TEST_F(WriterTest, AGroupListingOneMemberThousandsOfTimesIsRefused) {
    // 30,000 entries of one 9.6 KB image would write 288 MB from a module
    // of a few hundred KB; the scan goes on with the next resource.
    const Bytes img = IconImage(48, 48);
    ASSERT_GT(img.size(), 9000u);
    const std::vector<IconEntry> many(30000, IconEntry{48, 48, 0, 1, 32, uint32_t(img.size()), 1});
    const std::vector<IconEntry> some(100, IconEntry{48, 48, 0, 1, 32, uint32_t(img.size()), 1});
    EXPECT_FALSE(Run(Module("a.exe", {R(14, 1, IconGroup(many)), R(14, 2, IconGroup(some)), R(3, 1, img)}),
                     Only(engine::RES_ICON)));
    EXPECT_EQ(Files("Icons"), (std::vector<std::string>{"__index.txt", "a.exe.ico"}));
    EXPECT_EQ(ReadFile(dest / "Icons/a.exe.ico").size(), 6 + 100 * (16 + img.size()));
    ASSERT_EQ(owner.found.size(), 1u);
    EXPECT_EQ(std::get<int32_t>(owner.found[0].name), 2);
}

TEST_F(WriterTest, CursorsUpTo256PixelsInEitherHeightForm) {
    // Each row a group of one member; the height comes from the member.
    const std::pair<uint16_t, uint16_t> rows[] = {{64, 128}, {64, 64}, {256, 512}, {256, 256}};  // size, group height
    std::vector<Res> res;
    for (uint16_t id = 1; const auto& [size, groupHeight] : rows) {
        const Bytes m = CursorMember(size, size, 5, 6);
        res.push_back(R(1, id, m));
        res.push_back(R(12, id, CursorGroup({{size, groupHeight, 1, 1, uint32_t(m.size()), id}}))), ++id;
    }
    Run(Module("a.exe", res), Only(engine::RES_CURSOR));
    ASSERT_TRUE(HaveIdentify());
    for (int i = 0; const auto& [size, groupHeight] : rows) {
        SCOPED_TRACE(std::to_string(size) + " in a group of height " + std::to_string(groupHeight));
        const fs::path f = dest / "Cursors" / (i++ ? "a.exe (" + std::to_string(i) + ").cur" : std::string("a.exe.cur"));
        const Bytes b = ReadFile(f);
        ASSERT_GE(b.size(), 22u);
        const uint8_t byte = size == 256 ? 0 : uint8_t(size);  // 256 is written as 0
        EXPECT_EQ(Bytes(b.begin() + 6, b.begin() + 12), (Bytes{byte, byte, 2, 0, 5, 0}));
        EXPECT_EQ(Identify(f, "%w %h"), std::to_string(size) + " " + std::to_string(size));
    }
}

TEST_F(WriterTest, CursorDirectoryDescribesTheImagesWritten) {
    // Group sizes count the hotspot the file leaves out, so every size and
    // offset moves back. The first entry stores its height undoubled and a
    // wrong size: both come from the member's bitmap header.
    const Bytes big = CursorMember(32, 32, 3, 4), small = CursorMember(16, 16, 1, 2);
    Run(Module("a.exe", {R(12, 1, CursorGroup({{32, 32, 1, 1, 999, 1}, {16, 32, 1, 1, uint32_t(small.size()), 2}})),
                         R(12, 2, CursorGroup({{24, 48, 1, 32, 12, 3}})), R(1, 1, big), R(1, 2, small), R(1, 3, {0, 0, 0, 0, 0x89, 'P', 'N', 'G', 13, 10, 26, 10})}),
        Only(engine::RES_CURSOR));
    const Bytes f = ReadFile(dest / "Cursors/a.exe.cur");
    ASSERT_EQ(f.size(), 38 + big.size() - 4 + small.size() - 4);
    EXPECT_EQ(G16(f, 2), 2);
    Bytes dir;  // per image: width, height, colours, 0, hotspot, size and offset as written
    for (auto [w, hx, hy, size, at] : {std::tuple{32, 3, 4, big.size() - 4, size_t(38)},
                                       std::tuple{16, 1, 2, small.size() - 4, 38 + big.size() - 4}}) {
        dir.insert(dir.end(), {uint8_t(w), uint8_t(w), 2, 0});
        P16(dir, hx), P16(dir, hy), P32(dir, uint32_t(size)), P32(dir, uint32_t(at));
    }
    EXPECT_EQ(Bytes(f.begin() + 6, f.begin() + 38), dir);
    EXPECT_TRUE(std::equal(big.begin() + 4, big.end(), f.begin() + 38));
    // Without a bitmap header (a PNG member): the group's height, halved.
    const Bytes g = ReadFile(dest / "Cursors/a.exe (2).cur");
    ASSERT_EQ(g.size(), 22u + 8);
    EXPECT_EQ(g[7], 24);
    EXPECT_EQ(G32(g, 14), 8u);
    EXPECT_EQ(G32(g, 18), 22u);
    ASSERT_TRUE(HaveIdentify());
    EXPECT_EQ(Identify(dest / "Cursors/a.exe.cur"), "32 32\n16 16\n");
}

}  // namespace
