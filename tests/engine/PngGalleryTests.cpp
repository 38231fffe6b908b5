// The PNG images beside each written file, and the gallery page over the index files.
#include <memory>

#include "TestUtil.h"
#include "engine/GalleryPage.h"
#include "platform/image/PngImage.h"
#include "platform/text/TextCodec.h"

using namespace t;
using Names = std::vector<std::string>;

namespace {

class PngTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        engine::SetPngImages(true);
    }
    void TearDown() override {
        engine::SetPngImages(false);
        EngineTest::TearDown();
    }
    // An icon member of w x w at bpp: colour rows, then the AND mask's.
    static Bytes Member(int w, uint16_t bpp) { return Dib(w, 2 * w, bpp); }
};

TEST_F(PngTest, EachImageBesideItsFileInItsIndexNeverOverAnything) {
    const Bytes stored = platform::EncodePng({2, 2, Bytes(16, 0x40)});
    const Bytes m4 = Member(16, 4), m8 = Member(16, 8), m32 = IconImage(32, 32);
    const Bytes jpeg = Dib(16, 32, 24, 0, 4);  // a compression no icon may use
    const Bytes cursor = CursorMember(16, 16, 1, 1);
    const std::string mod = Module("a.exe", {
        R(14, 1, IconGroup({{16, 16, 16, 1, 4, uint32_t(m4.size()), 5}, {16, 16, 0, 1, 8, uint32_t(m8.size()), 6},
                            {32, 32, 0, 1, 32, uint32_t(m32.size()), 7}, {2, 2, 0, 1, 32, uint32_t(stored.size()), 8}})),
        R(14, 2, IconGroup({{16, 16, 0, 1, 24, uint32_t(jpeg.size()), 10}})),
        R(3, 5, m4), R(3, 6, m8), R(3, 7, m32), R(3, 8, stored), R(3, 10, jpeg),
        R(2, 1, Dib(3, 2, 24)), R(12, 1, CursorGroup({{16, 32, 1, 1, uint32_t(cursor.size()), 9}})), R(1, 9, cursor)});
    { std::ofstream(dest / "Icons/a.exe 32x32.png") << "theirs"; }
    EXPECT_FALSE(Run(mod, AllKinds()));

    EXPECT_EQ(Files("Icons"), (Names{"__index.txt", "a.exe (2).ico", "a.exe 16x16 4-bit.png", "a.exe 16x16 8-bit.png",
                                     "a.exe 2x2.png", "a.exe 32x32 (2).png", "a.exe 32x32.png", "a.exe.ico"}));
    EXPECT_EQ(ReadText(dest / "Icons/a.exe 32x32.png"), "theirs");
    EXPECT_EQ(ReadFile(dest / "Icons/a.exe 2x2.png"), stored) << "a PNG image is kept as stored";
    EXPECT_EQ(platform::PngSize(ReadFile(dest / "Icons/a.exe 32x32 (2).png")), (std::pair<uint32_t, uint32_t>{32, 32}));
    EXPECT_EQ(Files("Bitmaps"), (Names{"__index.txt", "a.exe 3x2.png", "a.exe.bmp"}));
    EXPECT_EQ(Files("Cursors"), (Names{"__index.txt", "a.exe 16x16.png", "a.exe.cur"}));
    // Each PNG's line follows its file's, with the same source, type and name.
    const std::string line = " - SOURCE FILE = " + mod + " RESOURCE TYPE = 14 RESOURCE NAME = ";
    EXPECT_EQ(ReadText(dest / "Icons/__index.txt"),
              "a.exe.ico" + line + "1\r\na.exe 16x16 4-bit.png" + line + "1\r\na.exe 16x16 8-bit.png" + line +
                  "1\r\na.exe 32x32 (2).png" + line + "1\r\na.exe 2x2.png" + line + "1\r\na.exe (2).ico" + line + "2\r\n");
    // The image nothing here decodes is counted and its file named.
    const engine::PngTally& tally = engine::PngImagesTally();
    EXPECT_EQ(tally.written, 6u);
    EXPECT_EQ(tally.missed, 1u);
    EXPECT_EQ(tally.missedIn, (Names{(dest / "Icons/a.exe (2).ico").string()}));
    EXPECT_EQ(owner.found.size(), 4u) << "the PNGs are not resources of their own";
}

TEST_F(PngTest, AWriteErrorStopsTheFileAndLeavesNoPartialPng) {
    const std::string mod = Module("a.exe", {R(2, 1, Dib(3, 2, 24)), R(2, 2, Dib(3, 2, 24))});
    platform::SetFileFaultHook([](platform::FileOp op, const std::string& p) {
        return platform::FaultDecision{op == platform::FileOp::Create && p.ends_with(".png") ? EACCES : 0};
    });
    EXPECT_TRUE(Run(mod, AllKinds()));
    EXPECT_EQ(Files("Bitmaps"), (Names{"__index.txt", "a.exe.bmp"}));
    ASSERT_EQ(box.prompts.size(), 1u);
    EXPECT_NE(box.prompts[0].find("a.exe 3x2.png"), std::string::npos) << box.prompts[0];
}

class GalleryTest : public PngTest {};

TEST_F(GalleryTest, ShowsWhatTheIndexesListEscapedAndLinkedInside) {
    const Bytes icon = IconImage(16, 16);
    Run(Module("a.exe", {R(2, "<b>&\"'", Dib(3, 2, 24)), R(14, 1, IconGroup({{16, 16, 0, 1, 32, uint32_t(icon.size()), 5}})),
                         R(3, 5, icon), R(21, 1, Bytes{1, 2, 3})}), AllKinds());
    engine::SetPngImages(false);
    Run(Module("b\xff.dll", {R(2, 7, Dib(70, 35, 24))}), AllKinds());
    {
        std::ofstream index(dest / "Bitmaps/__index.txt", std::ios::app | std::ios::binary);
        index << "../../etc/passwd - SOURCE FILE = x RESOURCE TYPE = 2 RESOURCE NAME = up\r\n"
                 "gone.bmp - SOURCE FILE = x RESOURCE TYPE = 2 RESOURCE NAME = gone\r\n"
                 "a.exe.bmp - SOURCE FILE = y RESOURCE TYPE = 14 RESOURCE NAME = wrong kind\r\n"
                 "a.exe.bm";
    }
    { std::ofstream(dest / "index.html") << "theirs"; }

    engine::GalleryPage page;
    ASSERT_EQ(engine::WriteGalleryPage(dest.string(), page).number, 0);
    EXPECT_EQ(page.path, (dest / "index (2).html").string());
    EXPECT_EQ(ReadText(dest / "index.html"), "theirs");
    EXPECT_EQ(page.items, 4u) << "two bitmaps, an icon, an animated cursor; the PNGs join their files";
    const std::string html = ReadText(page.path);
    EXPECT_TRUE(platform::text::IsValidUtf8(html));
    for (const char* want : {"<b>&lt;b&gt;&amp;&quot;&#39;</b>", "b\xEF\xBF\xBD.dll", "href=\"Bitmaps/b%FF.dll.bmp\"",
                             "src=\"Icons/a.exe%2016x16.png\" width=\"64\" height=\"64\"",  // a PNG shown, enlarged 4 times
                             "src=\"Bitmaps/b%FF.dll.bmp\" width=\"64\" height=\"32\"",     // the file itself, fitted
                             "href=\"Animated%20Cursors/a.exe.ani\"><span>Animated cursor</span>"})
        EXPECT_NE(html.find(want), std::string::npos) << want;
    for (const char* never : {"passwd", "gone", "wrong kind", "&\"'", "http:", "https:"})
        EXPECT_EQ(html.find(never), std::string::npos) << never;
}

TEST_F(GalleryTest, AnEmptyDestinationSaysSo) {
    engine::GalleryPage page;
    ASSERT_EQ(engine::WriteGalleryPage(dest.string(), page).number, 0);
    EXPECT_EQ(page.items, 0u);
    EXPECT_NE(ReadText(page.path).find("No resources have been saved here yet."), std::string::npos);
    EXPECT_NE(engine::WriteGalleryPage((dest / "gone").string(), page).number, 0) << "a folder that is not there";
    EXPECT_EQ(page.path, "");
}

}  // namespace
