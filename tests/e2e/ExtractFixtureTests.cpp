#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Result { int status = -1; std::string out; };

Result Shell(const std::string& cmd) {
    Result r;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    if (const int st = p ? pclose(p) : -1; st != -1 && WIFEXITED(st)) r.status = WEXITSTATUS(st);
    return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FixtureRun : public ::testing::Test {
protected:
    fs::path dest;
    void SetUp() override {
        char tmpl[] = "/tmp/lv-e2e-XXXXXX";
        dest = fs::path(mkdtemp(tmpl)) / "out";
    }
    void TearDown() override { fs::remove_all(dest.parent_path()); }
    Result Extract(const std::string& extra = "", const fs::path& in = fs::path(LOOMVALE_FIXTURES) / "kinds.dll") {
        return Shell(std::string(LOOMVALE_EXTRACT) + " --quiet --dest " + Quote(dest.string()) + " " + extra + " " +
                   Quote(in.string()));
    }
};

// A bitmap file's pixels: the bytes from its header's offset on.
std::string Pixels(const fs::path& p) {
    const std::string b = ReadFile(p);
    if (b.size() < 14) return {};
    const size_t at = uint8_t(b[10]) | uint8_t(b[11]) << 8 | uint8_t(b[12]) << 16 | size_t(uint8_t(b[13])) << 24;
    return at <= b.size() ? b.substr(at) : std::string();
}

}  // namespace

TEST_F(FixtureRun, WritesEveryKindWithItsIndex) {
    const auto r = Extract();
    ASSERT_EQ(r.status, 0) << r.out;
    // Every resource of the six kinds, the 64-pixel cursor and the bitmap
    // under the string name "123" (the module has no ID 123) included.
    EXPECT_EQ(r.out, "Bitmap: 9\nIcon: 2\nCursor: 3\nAnimated cursor: 1\nVideo (AVI): 1\nWeb page: 4\n");
    EXPECT_NE(ReadFile(dest / "Bitmaps" / "__index.txt")
                  .find("kinds.dll.bmp - SOURCE FILE = " + std::string(LOOMVALE_FIXTURES) +
                        "/kinds.dll RESOURCE TYPE = 2 RESOURCE NAME = 123\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dest / "Web pages" / "kinds.dll - ABOUT.HTM"), "<html><body><h1>About</h1></body></html>\n");
    const std::string ani = ReadFile(dest / "Animated Cursors" / "kinds.dll.ani");
    EXPECT_EQ(ani.substr(0, 4) + ani.substr(8, 4), "RIFFACON");
    // A second run into the same destination never overwrites: the counter moves on.
    ASSERT_EQ(Extract("--types html").status, 0);
    EXPECT_TRUE(fs::exists(dest / "Web pages" / "kinds.dll - ABOUT (2).HTM"));
    EXPECT_FALSE(fs::exists(dest / "Bitmaps" / "kinds.dll (10).bmp"));
}

TEST_F(FixtureRun, SixteenBitModulesInAFolderDecodeLikeTheirSource) {
    // kinds.dll and its repacking as NE modules (units of 16 and 512 bytes,
    // plus a bitmap in the core form), beside a font module with nothing to take.
    const fs::path in = dest.parent_path() / "in";
    fs::create_directories(in);
    for (const char* f : {"kinds.dll", "kinds16.exe", "kinds16_512.exe"}) fs::copy_file(fs::path(LOOMVALE_FIXTURES) / f, in / f);
    if (fs::exists("/usr/share/wine/fonts/coure.fon")) fs::copy_file("/usr/share/wine/fonts/coure.fon", in / "coure.exe");
    const auto r = Extract("", in);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "Bitmap: 29\nIcon: 6\nCursor: 9\nAnimated cursor: 3\nVideo (AVI): 3\nWeb page: 12\n");
    // Icon and cursor files hold each image's own bytes, not the padding the
    // 16-bit module stores after it: the same files as from the 32-bit module.
    for (const char* kind : {"Icons", "Cursors"})
        for (const auto& e : fs::directory_iterator(dest / kind)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("kinds.dll", 0) != 0) continue;
            for (const char* ne : {"kinds16.exe", "kinds16_512.exe"})
                EXPECT_EQ(ReadFile(dest / kind / (ne + name.substr(9))), ReadFile(e.path())) << ne << " " << name;
        }
    EXPECT_EQ(ReadFile(dest / "Web pages" / "kinds16.exe - ABOUT.HTM").substr(0, 41), "<html><body><h1>About</h1></body></html>\n");
    if (Shell("command -v identify").status != 0) GTEST_SKIP() << "ImageMagick is not installed";
    std::string all = "\n";
    for (const auto* folder : {"Bitmaps", "Icons", "Cursors"})
        for (const auto& e : fs::directory_iterator(dest / folder)) {
            if (e.path().filename() == "__index.txt") continue;
            const auto id = Shell("identify -format '%m %wx%h %z;' " + Quote(e.path().string()));
            EXPECT_EQ(id.status, 0) << e.path();
            all += e.path().filename().string() + ": " + id.out + "\n";
        }
    // The bit-field bitmaps decode to their real size (the pixel offset skips
    // the masks); four icon images, the last a 256-pixel PNG; a cursor of two
    // images, each at its own size.
    for (const std::string f : {"kinds.dll", "kinds16.exe", "kinds16_512.exe"})
        for (const char* want : {" (8).bmp: BMP3 6x6 8;", " (9).bmp: BMP3 5x5 8;", " (4).bmp: BMP3 8x4 4;",
                                 " (2).ico: PNG 16x16 8;PNG 32x32 8;PNG 48x48 8;PNG 256x256 8;",
                                 ".cur: CUR 32x32 1;", " (2).cur: CUR 64x64 1;", " (3).cur: CUR 16x16 1;CUR 32x32 1;",
                                 f == "kinds.dll" ? ".bmp: BMP3 33x17 8;" : " (10).bmp: BMP2 8x4 4;"})  // the core form
            EXPECT_NE(all.find("\n" + f + want), std::string::npos) << f + want << "\n" << all;
}

TEST_F(FixtureRun, EveryBitmapHeaderFormDecodesLikeItsSource) {
    // bitmaps.dll holds one bitmap per header form, each named after its
    // source in tests/fixtures/src/bitmaps.
    if (Shell("/usr/bin/python3 -c 'import PIL' && command -v compare").status != 0)
        GTEST_SKIP() << "Pillow or ImageMagick is not installed";
    ASSERT_EQ(Extract("--types bitmap", fs::path(LOOMVALE_FIXTURES) / "bitmaps.dll").status, 0);
    std::map<std::string, fs::path> written;  // resource name -> file, from the index
    std::istringstream index(ReadFile(dest / "Bitmaps/__index.txt"));
    for (std::string line; std::getline(index, line);) {
        const auto name = line.find(" RESOURCE NAME = ");
        ASSERT_NE(name, std::string::npos) << line;
        written[line.substr(name + 17, line.size() - name - 18)] = dest / "Bitmaps" / line.substr(0, line.find(" - "));
    }
    // Pillow reads neither the 52- and 56-byte headers nor compression 6;
    // ImageMagick not compression 6 (its V3 twin holds the same pixels).
    enum Decoder { pil, magick, neither };
    const auto same = [](Decoder d, const fs::path& a, const fs::path& b) {
        const std::string files = Quote(a.string()) + " " + Quote(b.string());
        if (d == magick)  // prints the count of differing pixels on stderr
            return Shell("compare -metric AE " + files + " null: 2>&1 | cat").out == "0";
        return Shell("/usr/bin/python3 -c 'import sys; from PIL import Image\n"
                     "a, b = (Image.open(f).convert(\"RGBA\") for f in sys.argv[1:])\n"
                     "print(a.size == b.size and a.tobytes() == b.tobytes())' " + files).out == "True\n";
    };
    const std::pair<const char*, Decoder> rows[] = {
        {"CORE1", pil}, {"CORE4", pil}, {"CORE8", pil}, {"CORE24", pil}, {"INFO4", pil}, {"PIL1", pil},
        {"PIL8", pil}, {"PIL24", pil}, {"RLE4", pil}, {"RLE8", pil}, {"TOPDOWN", pil}, {"V4", pil},
        {"V5", pil}, {"V5RGB", pil}, {"V5RGB565", pil}, {"V2", magick}, {"V3", magick}, {"ALPHA6", neither},
    };
    const fs::path sources = fs::path(LOOMVALE_FIXTURES) / "src/bitmaps";
    for (const auto& [name, decoder] : rows) {
        std::string file = std::string(name) + ".bmp";
        std::transform(file.begin(), file.end(), file.begin(), ::tolower);
        ASSERT_TRUE(written.count(name)) << name << " was not written";
        const fs::path src = sources / file, out = written[name];
        if (decoder != neither) {
            EXPECT_TRUE(same(decoder, src, out)) << name;
        }
        // The file's offset must land on the pixels its source holds.
        EXPECT_EQ(Pixels(out), Pixels(name == std::string("ALPHA6") ? sources / "v3.bmp" : src)) << name;
    }
    // JPEG compression and the 64-byte header are refused: no file, no line.
    EXPECT_EQ(written.size(), std::size(rows));
    EXPECT_EQ(std::distance(fs::directory_iterator(dest / "Bitmaps"), {}), std::ptrdiff_t(std::size(rows) + 1));
}
