#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/PeResources.h"
#include "tests/support/PeBuilder.h"

using platform::ResId;
using testsupport::PeBuilder;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/lv-reader-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string File(const std::string& name) const { return (path / name).string(); }
};

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Describe(const ResId& id) { return id.isInt ? "#" + std::to_string(id.id) : id.name; }

struct Listing {
    std::vector<std::string> types;
    std::vector<std::string> names;  // "type/name"
};

bool CollectName(platform::HMODULE, const ResId& type, const ResId& name, intptr_t p) {
    reinterpret_cast<Listing*>(p)->names.push_back(Describe(type) + "/" + Describe(name));
    return true;
}
bool CollectType(platform::HMODULE m, const ResId& type, intptr_t p) {
    reinterpret_cast<Listing*>(p)->types.push_back(Describe(type));
    platform::EnumResourceNamesA(m, type, CollectName, p);
    return true;
}

Listing List(platform::HMODULE m) {
    Listing l;
    platform::EnumResourceTypesA(m, CollectType, reinterpret_cast<intptr_t>(&l));
    return l;
}

// The bytes of a resource as the engine loads them; empty when not found.
std::vector<uint8_t> Load(platform::HMODULE m, const ResId& type, const ResId& name) {
    auto res = platform::FindResourceA(m, name, type);
    if (!res) return {};
    auto h = platform::LoadResource(m, res);
    if (!h) return {};
    auto p = static_cast<const uint8_t*>(platform::LockResource(h));
    std::vector<uint8_t> out(p, p + platform::SizeofResource(m, res));
    platform::FreeResource(h);
    return out;
}

// Enumerates and loads everything; a damaged module must never crash us.
std::size_t LoadEverything(platform::HMODULE m, uint64_t fileSize) {
    std::size_t loaded = 0;
    for (const auto& entry : List(m).names) {
        const auto slash = entry.find('/');
        auto id = [](const std::string& t) { return ResId::Str(t); };  // "#n" strings stand for IDs
        auto data = Load(m, id(entry.substr(0, slash)), id(entry.substr(slash + 1)));
        EXPECT_LE(data.size(), fileSize);
        loaded += !data.empty();
    }
    return loaded;
}

PeBuilder Sample(bool plus = false) {
    PeBuilder b;
    b.pe32plus = plus;
    b.Add(ResId::Int(2), ResId::Int(130), 0x409, Bytes("bitmap-130"));
    b.Add(ResId::Int(2), ResId::Str("LOGO"), 0x409, Bytes("bitmap-logo"));
    b.Add(ResId::Int(2), ResId::Str("123"), 0x409, Bytes("digits-name"));
    b.Add(ResId::Int(2), ResId::Int(123), 0x409, Bytes("id-123"));
    b.Add(ResId::Str("AVI"), ResId::Str("CLIP"), 0, Bytes("RIFF-clip"));
    b.Add(ResId::Str("avi"), ResId::Str("LOWER"), 0, Bytes("lower"));
    b.Add(ResId::Int(23), ResId::Str("ABOUT.HTM"), 0x409, Bytes("<html>about</html>"));
    b.Add(ResId::Int(14), ResId::Int(1), 0x407, Bytes("german"));
    b.Add(ResId::Int(14), ResId::Int(1), 0x409, Bytes("english"));
    b.Add(ResId::Int(14), ResId::Int(1), 0x40C, Bytes("french"));
    return b;
}

class Locale {
public:
    explicit Locale(const char* lang) {
        for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* old = std::getenv(v);
            saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
            unsetenv(v);
        }
        if (lang) setenv("LANG", lang, 1);
    }
    ~Locale() {
        for (auto& [k, v] : saved_)
            if (v) setenv(k.c_str(), v->c_str(), 1); else unsetenv(k.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(PeReader, EnumeratesInDirectoryOrderOncePerName) {
    for (bool plus : {false, true}) {
        TempDir dir;
        const auto path = dir.File("a.dll");
        ASSERT_TRUE(PeBuilder::WriteFile(path, Sample(plus).Build()));
        auto m = platform::LoadLibraryExA(path.c_str(), nullptr, platform::LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m, nullptr) << "pe32plus=" << plus;
        const Listing l = List(m);
        // String types first, then IDs ascending; names likewise.
        EXPECT_EQ(l.types, (std::vector<std::string>{"AVI", "avi", "#2", "#14", "#23"}));
        EXPECT_EQ(l.names, (std::vector<std::string>{"AVI/CLIP", "avi/LOWER", "#2/123", "#2/LOGO", "#2/#123",
                                                     "#2/#130", "#14/#1", "#23/ABOUT.HTM"}));
        platform::FreeLibrary(m);
    }
}

TEST(PeReader, LookupRules) {
    TempDir dir;
    const auto path = dir.File("a.dll");
    ASSERT_TRUE(PeBuilder::WriteFile(path, Sample().Build()));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Load(m, ResId::Int(2), ResId::Int(130)), Bytes("bitmap-130"));
    // "#digits" stands for the ID; the bare digits are the string name.
    EXPECT_EQ(Load(m, ResId::Int(2), ResId::Str("#123")), Bytes("id-123"));
    EXPECT_EQ(Load(m, ResId::Int(2), ResId::Str("123")), Bytes("digits-name"));
    EXPECT_EQ(Load(m, ResId::Str("#2"), ResId::Str("logo")), Bytes("bitmap-logo"));
    // Lookups ignore ASCII case; the first of two types equal but for case wins.
    EXPECT_EQ(Load(m, ResId::Int(23), ResId::Str("about.htm")), Bytes("<html>about</html>"));
    EXPECT_EQ(Load(m, ResId::Str("Avi"), ResId::Str("clip")), Bytes("RIFF-clip"));
    EXPECT_TRUE(Load(m, ResId::Int(2), ResId::Int(999)).empty());
    EXPECT_TRUE(Load(m, ResId::Int(3), ResId::Int(1)).empty());
    EXPECT_TRUE(Load(m, ResId::Int(2), ResId::Str("#99999")).empty());
    // A scan looks members up again and again; that must cost no memory.
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    int missed = 0;
    for (int i = 0; i < 1500000; ++i) missed += !platform::FindResourceA(m, ResId::Int(130), ResId::Int(2));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(missed, 0);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 24 * 1024);
    platform::FreeLibrary(m);
}

TEST(PeReader, LanguageChoice) {
    TempDir dir;
    const auto path = dir.File("a.dll");
    ASSERT_TRUE(PeBuilder::WriteFile(path, Sample().Build()));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    {
        Locale l("fr_FR.UTF-8");
        EXPECT_EQ(platform::UserLocaleLanguage(), 0x40C);
        EXPECT_EQ(Load(m, ResId::Int(14), ResId::Int(1)), Bytes("french"));
    }
    {
        Locale l("ja_JP.UTF-8");  // not present: US English
        EXPECT_EQ(Load(m, ResId::Int(14), ResId::Int(1)), Bytes("english"));
    }
    {
        Locale l("C.UTF-8");
        EXPECT_EQ(platform::UserLocaleLanguage(), 0);
    }
    platform::FreeLibrary(m);

    // Neutral beats everything; without it nor a match, the first listed.
    PeBuilder b;
    b.Add(ResId::Int(2), ResId::Int(1), 0x407, Bytes("german"));
    b.Add(ResId::Int(2), ResId::Int(1), 0x0, Bytes("neutral"));
    b.Add(ResId::Int(2), ResId::Int(2), 0x411, Bytes("japanese"));
    b.Add(ResId::Int(2), ResId::Int(2), 0x412, Bytes("korean"));
    ASSERT_TRUE(PeBuilder::WriteFile(path, b.Build()));
    Locale l("de_DE");
    m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Load(m, ResId::Int(2), ResId::Int(1)), Bytes("neutral"));
    EXPECT_EQ(Load(m, ResId::Int(2), ResId::Int(2)), Bytes("japanese"));
    platform::FreeLibrary(m);
}

TEST(PeReader, RefusesWhatIsNotAModule) {
    TempDir dir;
    EXPECT_EQ(platform::LoadLibraryExA(dir.File("missing.dll").c_str(), nullptr, 2), nullptr);
    EXPECT_EQ(platform::LoadLibraryExA(dir.path.c_str(), nullptr, 2), nullptr);
    const auto path = dir.File("x.dll");
    for (const std::string& content : {std::string(), std::string("MZ"), std::string("#!/bin/sh\necho hi\n"),
                                       std::string(4096, 'M')}) {
        ASSERT_TRUE(PeBuilder::WriteFile(path, Bytes(content)));
        EXPECT_EQ(platform::LoadLibraryExA(path.c_str(), nullptr, 2), nullptr);
    }
    // A module without resources maps, and simply has none.
    auto image = PeBuilder().Build();
    ASSERT_TRUE(PeBuilder::WriteFile(path, image));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(List(m).names.empty());
    platform::FreeLibrary(m);
}

TEST(PeReader, SurvivesTruncationAtEveryLength) {
    TempDir dir;
    const auto path = dir.File("t.dll");
    const auto image = Sample().Build();
    std::size_t mapped = 0;
    for (std::size_t len = 0; len <= image.size(); ++len) {
        ASSERT_TRUE(PeBuilder::WriteFile(path, std::vector<uint8_t>(image.begin(), image.begin() + len)));
        auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
        if (!m) continue;
        ++mapped;
        LoadEverything(m, len);
        platform::FreeLibrary(m);
    }
    EXPECT_GT(mapped, 0u);
}

TEST(PeReader, DamagedDirectoriesEndAndStayBounded) {
    TempDir dir;
    const auto path = dir.File("d.dll");
    PeBuilder b = Sample();
    const auto image = b.Build();
    const uint32_t root = b.rsrcOffset;

    // A type directory that points back at the root: the walk must end.
    auto loop = image;
    PeBuilder::Put32(loop, root + 16 + 4, 0x80000000u);
    // Counts far beyond what the section holds.
    auto huge = image;
    PeBuilder::Put16(huge, root + 12, 0xFFFF);
    PeBuilder::Put16(huge, root + 14, 0xFFFF);
    // A subdirectory offset and a string offset far past the end.
    auto wild = image;
    PeBuilder::Put32(wild, root + 16 + 4, 0xFFFFFFF0u);
    PeBuilder::Put32(wild, root + 16, 0xFFFFFFF0u);
    for (const auto* img : {&loop, &huge, &wild}) {
        ASSERT_TRUE(PeBuilder::WriteFile(path, *img));
        auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
        if (!m) continue;
        LoadEverything(m, img->size());
        platform::FreeLibrary(m);
    }

    // Leaves whose data lies past the end or claims 4 GB: found, not loaded.
    auto bad = image;
    std::size_t leaves = 0;
    for (std::size_t off = root; off + 8 <= bad.size(); off += 4) {
        const uint32_t rva = PeBuilder::Get32(bad, off), size = PeBuilder::Get32(bad, off + 4);
        if (rva > b.rsrcRva && rva < b.rsrcRva + 0x1000 && size > 0 && size < 64 && PeBuilder::Get32(bad, off + 8) == 0) {
            PeBuilder::Put32(bad, off + 4, (leaves++ % 2) ? 0xFFFFFFFFu : 0x10000u);
        }
    }
    ASSERT_GT(leaves, 0u);
    ASSERT_TRUE(PeBuilder::WriteFile(path, bad));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(LoadEverything(m, bad.size()), 0u);
    platform::FreeLibrary(m);
}

TEST(PeReader, SharedLongNamesStayBounded) {
    // Thousands of names all pointing at one string of 65535 three-byte
    // characters: copied per name they would need gigabytes.
    TempDir dir;
    const auto path = dir.File("n.dll");
    PeBuilder b;
    const int names = 2000;
    for (int i = 0; i < names; ++i) b.Add(ResId::Int(2), ResId::Int(static_cast<uint16_t>(i + 1)), 0, {1});
    std::vector<uint8_t> text(2 + 2 * 65535, 0x4E);
    text[0] = text[1] = 0xFF;
    b.Add(ResId::Int(10), ResId::Int(1), 0, text);
    auto image = b.Build();
    const uint32_t root = b.rsrcOffset;
    // The string is the data of the one RCDATA resource; find its leaf.
    const uint32_t rcdataDir = PeBuilder::Get32(image, root + 16 + 8 + 4) & 0x7FFFFFFF;
    const uint32_t nameDir = PeBuilder::Get32(image, root + rcdataDir + 16 + 4) & 0x7FFFFFFF;
    const uint32_t leaf = PeBuilder::Get32(image, root + nameDir + 16 + 4);
    const uint32_t textOff = PeBuilder::Get32(image, root + leaf) - b.rsrcRva;
    const uint32_t bitmapDir = PeBuilder::Get32(image, root + 16 + 4) & 0x7FFFFFFF;
    for (int i = 0; i < names; ++i) PeBuilder::Put32(image, root + bitmapDir + 16 + 8 * i, 0x80000000u | textOff);
    ASSERT_TRUE(PeBuilder::WriteFile(path, image));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    const auto listing = List(m);
    std::size_t bytes = 0;
    for (const auto& n : listing.names) bytes += n.size();
    EXPECT_GT(listing.names.size(), 1u);     // some are kept...
    EXPECT_LT(bytes, std::size_t{64} << 20);  // ...within a bound
    EXPECT_EQ(listing.types, (std::vector<std::string>{"#2", "#10"}));
    platform::FreeLibrary(m);
}

TEST(PeReader, LookupsInHugeDirectoriesStayCheap) {
    // A group may name tens of thousands of members; each lookup must not
    // walk the whole directory again.
    TempDir dir;
    const auto path = dir.File("h.dll");
    PeBuilder b;
    const int names = 60000;
    for (int i = 0; i < names; ++i)
        b.Add(ResId::Int(3), ResId::Int(static_cast<uint16_t>(i)), 0, {static_cast<uint8_t>(i)});
    b.Add(ResId::Int(3), ResId::Str("Mixed"), 0, {1, 2});
    ASSERT_TRUE(PeBuilder::WriteFile(path, b.Build()));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    const auto start = std::chrono::steady_clock::now();
    int wrong = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (int i = names - 1; i >= 0; --i)
            wrong += Load(m, ResId::Int(3), ResId::Int(static_cast<uint16_t>(i))) !=
                     std::vector<uint8_t>{static_cast<uint8_t>(i)};
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Load(m, ResId::Str("#3"), ResId::Str("MIXED")), (std::vector<uint8_t>{1, 2}));
    platform::FreeLibrary(m);
}

TEST(PeReader, FileShrinkingAfterMappingGivesMissingData) {
    TempDir dir;
    const auto path = dir.File("s.dll");
    const auto image = Sample().Build();
    ASSERT_TRUE(PeBuilder::WriteFile(path, image));
    auto m = platform::LoadLibraryExA(path.c_str(), nullptr, 2);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(truncate(path.c_str(), 0x210), 0);
    EXPECT_TRUE(Load(m, ResId::Int(23), ResId::Str("ABOUT.HTM")).empty());
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_TRUE(Load(m, ResId::Int(2), ResId::Int(130)).empty());
    platform::FreeLibrary(m);
}

TEST(PeReader, RealModulesLoadEveryResource) {
    const fs::path wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    if (!fs::is_directory(wine)) GTEST_SKIP() << "libwine is not installed";
    std::size_t modules = 0, resources = 0;
    for (const auto& e : fs::directory_iterator(wine)) {
        if (e.path().extension() != ".dll" || ++modules > 120) continue;
        auto m = platform::LoadLibraryExA(e.path().c_str(), nullptr, 2);
        ASSERT_NE(m, nullptr) << e.path();
        const auto names = List(m).names.size();
        EXPECT_EQ(LoadEverything(m, fs::file_size(e.path())), names) << e.path();
        resources += names;
        platform::FreeLibrary(m);
    }
    EXPECT_GT(resources, 100u);
}
