#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/module/PeResources.h"
#include "tests/support/NeBuilder.h"
#include "tests/support/Packages.h"
#include "tests/support/PeBuilder.h"

using platform::ResId;
using testsupport::PeBuilder;
const auto Load = testsupport::LoadBytes;
using Data = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

platform::HMODULE Open(const std::string& path) { return platform::LoadLibraryExA(path.c_str(), nullptr, 2); }

// An image written to a file in a fresh folder and mapped; all undone at scope end.
struct Mapped {
    char tmpl[22] = "/tmp/lv-reader-XXXXXX";
    fs::path dir = mkdtemp(tmpl);
    std::string path = (dir / "a.dll").string();
    platform::HMODULE m;
    explicit Mapped(const Data& image) : m(PeBuilder::WriteFile(path, image) ? Open(path) : nullptr) {}
    ~Mapped() {
        if (m) platform::FreeLibrary(m);
        fs::remove_all(dir);
    }
};

Data Bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::string Describe(const ResId& id) { return id.isInt ? "#" + std::to_string(id.id) : id.name; }

struct Listing { std::vector<std::string> types, names; };  // names as "type/name"
Listing List(platform::HMODULE m) {
    Listing l;
    platform::EnumResourceTypesA(m, [](platform::HMODULE m, const ResId& type, intptr_t p) {
        reinterpret_cast<Listing*>(p)->types.push_back(Describe(type));
        platform::EnumResourceNamesA(m, type, [](platform::HMODULE, const ResId& type, const ResId& name, intptr_t p) {
            reinterpret_cast<Listing*>(p)->names.push_back(Describe(type) + "/" + Describe(name));
            return true;
        }, p);
        return true;
    }, reinterpret_cast<intptr_t>(&l));
    return l;
}

// "type/name size" for everything listed, as loaded ("#n" stands for an ID; 0: not
// loaded): never a crash, never more than the file.
std::vector<std::string> LoadAll(platform::HMODULE m, uint64_t fileSize) {
    std::vector<std::string> out;
    for (const auto& entry : List(m).names) {
        const auto slash = entry.find('/');
        const auto data = Load(m, ResId::Str(entry.substr(0, slash)), ResId::Str(entry.substr(slash + 1)));
        EXPECT_LE(data.size(), fileSize) << entry;
        out.push_back(entry + " " + std::to_string(data.size()));
    }
    return out;
}
std::size_t Loaded(const std::vector<std::string>& all) {
    return std::count_if(all.begin(), all.end(), [](const std::string& s) { return !s.ends_with(" 0"); });
}

PeBuilder Sample(bool plus = false) {
    PeBuilder b;
    b.pe32plus = plus;
    const auto I = ResId::Int;
    const auto S = ResId::Str;
    for (auto [type, name, lang, text] : {
             std::tuple{I(2), I(130), 0x409, "bitmap-130"}, {I(2), S("LOGO"), 0x409, "bitmap-logo"},
             {I(2), S("123"), 0x409, "digits-name"}, {I(2), I(123), 0x409, "id-123"}, {S("AVI"), S("CLIP"), 0, "RIFF-clip"},
             {S("avi"), S("LOWER"), 0, "lower"}, {I(23), S("ABOUT.HTM"), 0x409, "<html>about</html>"},
             {I(14), I(1), 0x407, "german"}, {I(14), I(1), 0x409, "english"}, {I(14), I(1), 0x40C, "french"},
             {I(2), I(1), 0x40C, "fr"}, {I(2), I(1), 0, "neutral"}, {I(2), I(2), 0x411, "ja"}, {I(2), I(2), 0x412, "ko"}})
        b.Add(type, name, uint16_t(lang), Bytes(text));
    return b;
}

// Sets LANG alone for the scope; the locale variables come back after.
struct Locale {
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    explicit Locale(const char* lang) {
        for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* old = std::getenv(v);
            saved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
            unsetenv(v);
        }
        setenv("LANG", lang, 1);
    }
    ~Locale() { for (auto& [k, v] : saved) v ? setenv(k.c_str(), v->c_str(), 1) : unsetenv(k.c_str()); }
};

}  // namespace

TEST(PeReader, EnumeratesInDirectoryOrderOncePerName) {
    for (bool plus : {false, true}) {
        Mapped a(Sample(plus).Build());
        ASSERT_NE(a.m, nullptr) << "pe32plus=" << plus;
        EXPECT_EQ(List(a.m).types, (std::vector<std::string>{"AVI", "avi", "#2", "#14", "#23"}));  // strings first, IDs up
        EXPECT_EQ(List(a.m).names, (std::vector<std::string>{"AVI/CLIP", "avi/LOWER", "#2/123", "#2/LOGO", "#2/#1", "#2/#2", "#2/#123",
                                                     "#2/#130", "#14/#1", "#23/ABOUT.HTM"}));
    }
}

TEST(PeReader, LookupRules) {
    Mapped a(Sample().Build());
    ASSERT_NE(a.m, nullptr);
    const auto I = ResId::Int;
    const auto S = ResId::Str;
    const char* const fr = "fr_FR.UTF-8";
    for (auto [locale, type, name, want] : {
             std::tuple{"C.UTF-8", I(2), I(130), "bitmap-130"},
             // "#digits" stands for the ID; the bare digits are the string name.
             {"C.UTF-8", I(2), S("#123"), "id-123"}, {"C.UTF-8", I(2), S("123"), "digits-name"},
             {"C.UTF-8", S("#2"), S("logo"), "bitmap-logo"},
             // Lookups ignore ASCII case; the first of two types equal but for case wins.
             {"C.UTF-8", I(23), S("about.htm"), "<html>about</html>"}, {"C.UTF-8", S("Avi"), S("clip"), "RIFF-clip"},
             {"C.UTF-8", I(2), I(999), ""}, {"C.UTF-8", I(3), I(1), ""}, {"C.UTF-8", I(2), S("#99999"), ""},
             // Languages: neutral, else the user's, else US English, else the first listed.
             {fr, I(14), I(1), "french"}, {fr, I(2), I(1), "neutral"}, {fr, I(2), I(2), "ja"},
             {"ja_JP.UTF-8", I(14), I(1), "english"}, {"C.UTF-8", I(14), I(1), "english"}}) {
        Locale l(locale);
        EXPECT_EQ(Load(a.m, type, name), Bytes(want)) << locale << " " << Describe(type) << "/" << Describe(name);
    }
    // A scan looks members up again and again; that must cost no memory.
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    int missed = 0;
    for (int i = 0; i < 1500000; ++i) missed += !platform::FindResourceA(a.m, I(130), I(2));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(missed, 0);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 24 * 1024);
    Locale c("C.UTF-8");
    EXPECT_EQ(platform::UserLocaleLanguage(), 0);
    // The file shrinking after mapping gives missing data, no crash.
    ASSERT_EQ(truncate(a.path.c_str(), 0x210), 0);
    EXPECT_TRUE(Load(a.m, I(23), S("ABOUT.HTM")).empty());
    ASSERT_EQ(unlink(a.path.c_str()), 0);
    EXPECT_TRUE(Load(a.m, I(2), I(130)).empty());
}

TEST(PeReader, RefusesWhatIsNotAModule) {
    for (auto [what, c] : {std::pair{"empty", std::string()}, {"MZ alone", std::string("MZ")},
                           {"a script", std::string("#!/bin/sh\necho hi\n")}, {"4096 M", std::string(4096, 'M')}})
        EXPECT_EQ(Mapped(Bytes(c)).m, nullptr) << what;
    // A module without resources maps, and simply has none.
    Mapped a(PeBuilder().Build());
    ASSERT_NE(a.m, nullptr);
    EXPECT_TRUE(List(a.m).names.empty());
    for (const auto& p : {(a.dir / "missing.dll").string(), a.dir.string()}) EXPECT_EQ(Open(p), nullptr) << p;
}

TEST(PeReader, SurvivesTruncationAndDamagedDirectories) {
    PeBuilder b = Sample();
    const auto image = b.Build();
    const uint32_t root = b.rsrcOffset;
    std::vector<Data> damaged;
    for (std::size_t len = 0; len <= image.size(); ++len) damaged.emplace_back(image.begin(), image.begin() + len);
    // A type directory pointing back at the root, counts beyond the section, offsets far past the end.
    for (auto [off, value] : {std::pair{16 + 4, 0x80000000u}, {12, 0xFFFFFFFFu}, {16 + 4, 0xFFFFFFF0u}, {16, 0xFFFFFFF0u}})
        PeBuilder::Put32(damaged.emplace_back(image), root + off, value);
    std::size_t mapped = 0;
    for (const auto& img : damaged) {
        Mapped a(img);
        if (a.m) ++mapped, LoadAll(a.m, img.size());
    }
    EXPECT_GT(mapped, 0u);

    // Leaves whose data lies past the end or claims 4 GB: found, not loaded.
    auto bad = image;
    std::size_t leaves = 0;
    for (std::size_t off = root; off + 8 <= bad.size(); off += 4) {
        const uint32_t rva = PeBuilder::Get32(bad, off), size = PeBuilder::Get32(bad, off + 4);
        if (rva > b.rsrcRva && rva < b.rsrcRva + 0x1000 && size > 0 && size < 64 && PeBuilder::Get32(bad, off + 8) == 0)
            PeBuilder::Put32(bad, off + 4, (leaves++ % 2) ? 0xFFFFFFFFu : 0x10000u);
    }
    ASSERT_GT(leaves, 0u);
    Mapped a(bad);
    ASSERT_NE(a.m, nullptr);
    EXPECT_EQ(Loaded(LoadAll(a.m, bad.size())), 0u);
}

TEST(PeReader, SharedLongNamesStayBounded) {
    // 2000 names sharing one string of 65535 three-byte characters: gigabytes if copied per name.
    PeBuilder b;
    const int names = 2000;
    for (int i = 0; i < names; ++i) b.Add(ResId::Int(2), ResId::Int(uint16_t(i + 1)), 0, {1});
    Data text(2 + 2 * 65535, 0x4E);
    text[0] = text[1] = 0xFF;
    b.Add(ResId::Int(10), ResId::Int(1), 0, text);
    auto image = b.Build();
    const uint32_t root = b.rsrcOffset;
    auto at = [&](uint32_t off) { return PeBuilder::Get32(image, root + off) & 0x7FFFFFFF; };
    // The string is the data of the one RCDATA resource; find its leaf.
    const uint32_t leaf = at(at(at(16 + 8 + 4) + 16 + 4) + 16 + 4);
    const uint32_t textOff = PeBuilder::Get32(image, root + leaf) - b.rsrcRva, bitmapDir = at(16 + 4);
    for (int i = 0; i < names; ++i) PeBuilder::Put32(image, root + bitmapDir + 16 + 8 * i, 0x80000000u | textOff);
    Mapped a(image);
    ASSERT_NE(a.m, nullptr);
    const auto listing = List(a.m);
    std::size_t bytes = 0;
    for (const auto& n : listing.names) bytes += n.size();
    EXPECT_GT(listing.names.size(), 1u);     // some are kept...
    EXPECT_LT(bytes, std::size_t{64} << 20);  // ...within a bound
    EXPECT_EQ(listing.types, (std::vector<std::string>{"#2", "#10"}));
}

TEST(PeReader, HugeDirectoriesFindEveryName) {
    // A group may name tens of thousands of members; every one must be found (the
    // cost of these lookups is a benchmark's business, not a test's).
    PeBuilder b;
    const int names = 60000;
    for (int i = 0; i < names; ++i) b.Add(ResId::Int(3), ResId::Int(uint16_t(i)), 0, {uint8_t(i)});
    b.Add(ResId::Int(3), ResId::Str("Mixed"), 0, {1, 2});
    Mapped a(b.Build());
    ASSERT_NE(a.m, nullptr);
    int wrong = 0;
    for (int k = 2 * names - 1; k >= 0; --k)  // twice, backwards
        wrong += Load(a.m, ResId::Int(3), ResId::Int(uint16_t(k % names))) != Data{uint8_t(k % names)};
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Load(a.m, ResId::Str("#3"), ResId::Str("MIXED")), (Data{1, 2}));
}

// ---- 16-bit NE modules ----

namespace {

using testsupport::NeBuilder;

// The same listing as icoutils' wrestool gives it.
std::vector<std::string> WrestoolListing(const std::string& path) {
    std::vector<std::string> out;
    FILE* p = popen(("wrestool -l '" + path + "' 2>/dev/null").c_str(), "r");
    if (!p) return out;
    static const std::regex line(R"(--type=('?)([^' ]*)\1 --name=('?)([^' ]*)\3 .*size=(\d+)\])");
    char buf[1024];
    while (fgets(buf, sizeof buf, p)) {
        std::cmatch m;
        if (!std::regex_search(buf, m, line)) continue;
        auto id = [&](int quote, int text) { return (m[quote].length() ? "" : "#") + m[text].str(); };
        out.push_back(id(1, 2) + "/" + id(3, 4) + " " + m[5].str());
    }
    pclose(p);
    return out;
}

::testing::AssertionResult HaveWrestool() { return testsupport::Installed("/usr/bin/wrestool", "icoutils"); }

NeBuilder NeSample(uint16_t shift) {
    NeBuilder b;
    b.alignShift = shift;
    const auto I = ResId::Int;
    const auto S = ResId::Str;
    for (auto [type, name, size] : {std::tuple{I(2), I(1), 200}, {I(2), S("LOGO"), 16}, {I(3), I(1), 744}, {I(3), I(2), 1},
                                    {I(14), S("MAINICON"), 34}, {S("AVI"), I(5), 4096}, {I(2), I(130), 513},
                                    {I(23), S("ABOUT.HTM"), 300}, {S("avi"), I(7), 5}})
        b.Add(type, name, Data(std::size_t(size), uint8_t(size)));
    return b;
}

}  // namespace

TEST(NeReader, FixturesAgreeWithWrestool) {
    for (uint16_t shift : {4, 9, 0}) {
        NeBuilder b = NeSample(shift);
        Mapped a(b.Build());
        ASSERT_NE(a.m, nullptr) << "shift " << shift;
        // Stored order, types merged, every length padded to the unit. (No string
        // name under a string type here: wrestool prints the type's name for it.)
        const std::size_t unit = std::size_t{1} << shift;
        auto pad = [&](std::size_t n) { return std::to_string((n + unit - 1) / unit * unit); };
        const std::vector<std::string> expect = {
            "#2/#1 " + pad(200), "#2/LOGO " + pad(16), "#2/#130 " + pad(513), "#3/#1 " + pad(744), "#3/#2 " + pad(1),
            "#14/MAINICON " + pad(34), "AVI/#5 " + pad(4096), "#23/ABOUT.HTM " + pad(300), "avi/#7 " + pad(5)};
        EXPECT_EQ(LoadAll(a.m, b.Build().size()), expect) << "shift " << shift;
        ASSERT_TRUE(HaveWrestool());
        EXPECT_EQ(WrestoolListing(a.path), expect) << "shift " << shift;
        // The bytes are the stored ones, padding after.
        Data got = Load(a.m, ResId::Int(2), ResId::Int(130));
        ASSERT_GE(got.size(), 513u);
        EXPECT_EQ(Data(got.begin(), got.begin() + 513), Data(513, uint8_t(513)));
    }
}

TEST(NeReader, LookupRules) {
    NeBuilder b = NeSample(4);
    b.Add(ResId::Str("T\xE9l\xE9" "copie"), ResId::Str("\x80uro"), {1});  // Windows-1252 text
    b.Add(ResId::Int(2), ResId::Int(1), {9});                            // the same name again
    Mapped a(b.Build());
    ASSERT_NE(a.m, nullptr);
    const auto l = List(a.m);
    EXPECT_EQ(l.types, (std::vector<std::string>{"#2", "#3", "#14", "AVI", "#23", "avi", "Télécopie"}));
    EXPECT_EQ(std::count(l.names.begin(), l.names.end(), "#2/#1"), 1);
    EXPECT_EQ(l.names.back(), "Télécopie/€uro");
    EXPECT_EQ(Load(a.m, ResId::Str("#2"), ResId::Str("#1")), Load(a.m, ResId::Int(2), ResId::Int(1)));
    EXPECT_EQ(Load(a.m, ResId::Str("tÉlÉcopie"), ResId::Str("€URO")).size(), 0u);  // ASCII case only
    EXPECT_EQ(Load(a.m, ResId::Str("TéLéCOPIE"), ResId::Str("€uro")).size(), 16u);
    EXPECT_EQ(Load(a.m, ResId::Int(14), ResId::Str("mainicon")).size(), 48u);
    EXPECT_EQ(Load(a.m, ResId::Str("AVI"), ResId::Int(7)).size(), 0u);  // "avi" is a type of its own
    // No language level: whatever the locale, every resource is found.
    Locale de("de_DE.UTF-8");
    EXPECT_EQ(Load(a.m, ResId::Int(23), ResId::Str("about.htm")).size(), 304u);
}

TEST(Reader, RealModulesLoadEveryResource) {
    // Wine's own PE modules; its 16-bit fonts also against wrestool.
    for (auto [dir, ext, wrestool, sample, package] :
         {std::tuple{"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", ".dll", false, "shell32.dll", "libwine"},
          {"/usr/share/wine/fonts", ".fon", true, "coure.fon", "fonts-wine"}}) {
        ASSERT_TRUE(testsupport::Installed(std::string(dir) + "/" + sample, package));
        if (wrestool) {
            ASSERT_TRUE(HaveWrestool());
        }
        std::size_t modules = 0, resources = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().extension() != ext || ++modules > 120) continue;
            auto m = Open(e.path().string());
            ASSERT_NE(m, nullptr) << e.path();
            const auto ours = LoadAll(m, fs::file_size(e.path()));
            EXPECT_EQ(Loaded(ours), ours.size()) << e.path();
            if (wrestool) {
                EXPECT_EQ(ours, WrestoolListing(e.path().string())) << e.path();
            }
            resources += ours.size();
            platform::FreeLibrary(m);
        }
        EXPECT_GT(resources, 2 * std::min<std::size_t>(modules, 120)) << dir;
    }
}

TEST(NeReader, DamagedModules) {
    NeBuilder b = NeSample(4);
    const Data image = b.Build();
    const std::size_t t = b.tableOffset;  // the shift; the first type at t + 2, its first entry at t + 10
    const std::size_t firstData = std::size_t{PeBuilder::Get32(image, t + 10) & 0xFFFF} << 4;
    struct Row {
        const char* what;
        std::function<void(Data&)> damage;
        int listed;  // -1: cannot be mapped
    };
    auto put16 = [](std::size_t at, uint16_t v) { return [=](Data& d) { PeBuilder::Put16(d, at, v); }; };
    const std::vector<Row> rows = {
        {"shift that overflows", put16(t, 17), -1},
        {"shift 0xFFFF", put16(t, 0xFFFF), -1},
        {"table past the end of the file", put16(0x40 + 0x24, 0xFFF0), -1},
        {"NE header cut short", [](Data& d) { d.resize(0x50); }, -1},
        {"header offset past the end", [](Data& d) { PeBuilder::Put32(d, 0x3C, 0xFFFFFFF0u); }, -1},
        {"no table: same offset as the resident names", [](Data& d) { PeBuilder::Put16(d, 0x40 + 0x24, PeBuilder::Get32(d, 0x40 + 0x26) & 0xFFFF); }, 0},
        {"first count runs past the table", put16(t + 4, 0xFFFF), 0},
        {"second type's count runs past the table", put16(t + 2 + 8 + 3 * 12 + 2, 0x2000), 3},
        {"type name past the table", put16(t + 2 + 8 + 3 * 12 + 8 + 2 * 12 + 8 + 12, 0x7FF0), 8},
        {"name past the table", put16(t + 2 + 8 + 12 + 6, 0x7FF0), 8},
        {"name runs past the table end", [&](Data& d) {
             const uint16_t last = uint16_t((PeBuilder::Get32(d, 0x40 + 0x26) & 0xFFFF) + 0x40 - t - 1);
             PeBuilder::Put16(d, t + 2 + 8 + 12 + 6, last), d[t + last] = 5; }, 8},
        {"empty name", [&](Data& d) { d[t + PeBuilder::Get32(d, t + 2 + 8 + 12 + 6) % 0x10000] = 0; }, 8},
        // The first type whole, no end mark, its string name cut off.
        {"no end mark before the table ends", [&](Data& d) { PeBuilder::Put16(d, 0x40 + 0x26, uint16_t(t + 2 + 8 + 3 * 12 - 0x40)); }, 2},
        {"resident names before the table", put16(0x40 + 0x26, 0x10), 9},
        {"data past the end of the file", [&](Data& d) { d.resize(firstData + 8); }, 9},
    };
    for (const auto& r : rows) {
        Data img = image;
        r.damage(img);
        Mapped a(img);
        if (r.listed < 0) {
            EXPECT_EQ(a.m, nullptr) << r.what;
            continue;
        }
        ASSERT_NE(a.m, nullptr) << r.what;
        EXPECT_EQ(LoadAll(a.m, img.size()).size(), std::size_t(r.listed)) << r.what;
    }
    // Every truncation maps or not, and never loads more than the file holds.
    for (std::size_t len = 0; len < image.size(); len += 29) {
        Mapped a(Data(image.begin(), image.begin() + len));
        if (a.m) LoadAll(a.m, len);
    }
}

TEST(NeReader, RepackedFixturesHoldWhatThePeModuleHolds) {
    const std::string dir = LOOMVALE_FIXTURES;
    auto pe = Open(dir + "/kinds.dll");
    ASSERT_NE(pe, nullptr);
    for (auto [file, unit] : {std::pair{"/kinds16.exe", 16u}, {"/kinds16_512.exe", 512u}}) {
        auto ne = Open(dir + file);
        ASSERT_NE(ne, nullptr) << file;
        for (const auto& entry : List(pe).names) {
            const ResId type = ResId::Str(entry.substr(0, entry.find('/'))), name = ResId::Str(entry.substr(entry.find('/') + 1));
            const Data want = Load(pe, type, name), got = Load(ne, type, name);
            EXPECT_EQ(got.size(), (want.size() + unit - 1) / unit * unit) << file << " " << entry;
            EXPECT_TRUE(got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin())) << file << " " << entry;
        }
        // wrestool prints the type's name for a string name under a string type: leave those rows out.
        auto integerTypes = [](std::vector<std::string> v) { return std::erase_if(v, [](auto& s) { return s[0] != '#'; }), v; };
        ASSERT_TRUE(HaveWrestool());
        EXPECT_EQ(integerTypes(LoadAll(ne, fs::file_size(dir + file))), integerTypes(WrestoolListing(dir + file))) << file;
        platform::FreeLibrary(ne);
    }
    platform::FreeLibrary(pe);
}
