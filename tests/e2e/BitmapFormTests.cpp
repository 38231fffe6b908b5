// Every DIB header form the fixture module holds, extracted by the batch
// command and decoded by Pillow or ImageMagick next to the file it was made
// from (tests/fixtures/src/bitmaps).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string Sh(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p) pclose(p);
    return out;
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The pixels from the file header's offset on.
std::string Pixels(const fs::path& p) {
    const std::string b = Bytes(p);
    if (b.size() < 14) return {};
    const size_t at = uint8_t(b[10]) | uint8_t(b[11]) << 8 | uint8_t(b[12]) << 16 | size_t(uint8_t(b[13])) << 24;
    return at <= b.size() ? b.substr(at) : std::string();
}

const char* kPilSame =
    "/usr/bin/python3 -c 'import sys; from PIL import Image\n"
    "a, b = (Image.open(f).convert(\"RGBA\") for f in sys.argv[1:])\n"
    "print(\"same\" if a.size == b.size and a.tobytes() == b.tobytes() else \"differ\")' ";

}  // namespace

TEST(BitmapForms, EveryHeaderFormDecodesLikeItsSource) {
    if (Sh("/usr/bin/python3 -c 'import PIL' && command -v compare") .find("compare") == std::string::npos)
        GTEST_SKIP() << "Pillow or ImageMagick is not installed";
    char tmpl[] = "/tmp/lv-forms-XXXXXX";
    const fs::path root = mkdtemp(tmpl), dest = root / "out";
    const fs::path fixtures = LOOMVALE_FIXTURES, sources = fixtures / "src/bitmaps";
    Sh(std::string(LOOMVALE_EXTRACT) + " --quiet --types bitmap --dest " + Q(dest) + " " + Q(fixtures / "bitmaps.dll"));

    std::map<std::string, fs::path> written;  // resource name -> file, from the index
    std::istringstream index(Bytes(dest / "Bitmaps/__index.txt"));
    for (std::string line; std::getline(index, line);) {
        const auto name = line.find(" RESOURCE NAME = ");
        ASSERT_NE(name, std::string::npos) << line;
        written[line.substr(name + 17, line.size() - name - 18)] = dest / "Bitmaps" / line.substr(0, line.find(" - "));
    }
    // Which decoder reads each form: Pillow knows neither the 52- and
    // 56-byte headers nor compression 6, ImageMagick not compression 6.
    enum Decoder { Pil, Magick, Neither };
    const std::pair<const char*, Decoder> rows[] = {
        {"CORE1", Pil},  {"CORE4", Pil},   {"CORE8", Pil},   {"CORE24", Pil},  {"INFO4", Pil},    {"PIL1", Pil},
        {"PIL8", Pil},   {"PIL24", Pil},   {"RLE4", Pil},    {"RLE8", Pil},    {"TOPDOWN", Pil},  {"V4", Pil},
        {"V5", Pil},     {"V5RGB", Pil},   {"V5RGB565", Pil}, {"V2", Magick},  {"V3", Magick},    {"ALPHA6", Neither},
    };
    for (const auto& [name, decoder] : rows) {
        std::string lower = std::string(name) + ".bmp";
        for (auto& c : lower) c = char(std::tolower(c));
        const fs::path src = sources / lower;
        ASSERT_TRUE(written.count(name)) << name << " was not written";
        const fs::path out = written[name];
        if (decoder == Pil) {
            EXPECT_EQ(Sh(kPilSame + Q(src) + " " + Q(out)), "same\n") << name;
        } else if (decoder == Magick) {
            EXPECT_EQ(Sh("compare -metric AE " + Q(src) + " " + Q(out) + " null:"), "0") << name;
        }
        // Whatever reads it, the file's offset must land on the pixels its
        // source holds (the source of ALPHA6 is written by hand).
        EXPECT_EQ(Pixels(out), Pixels(src)) << name;
    }
    // The V3 twin of ALPHA6 holds the same pixels, and ImageMagick reads it.
    EXPECT_EQ(Pixels(written["ALPHA6"]), Pixels(sources / "v3.bmp"));
    // JPEG compression and the 64-byte header are refused: no file, no line.
    EXPECT_EQ(written.size(), std::size(rows));
    EXPECT_EQ(std::distance(fs::directory_iterator(dest / "Bitmaps"), {}), std::ptrdiff_t(std::size(rows) + 1));
    fs::remove_all(root);
}
