#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "controls/cFileVersion.h"
#include "platform/module/FileVersionInfo.h"
#include "tests/support/NeBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Fixture(const char* name) { return std::string(LOOMVALE_FIXTURES) + "/" + name; }

void Set16(Bytes& b, size_t at, size_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }

// One block of a version tree; values here are whole words, so children need no padding.
// A UTF-16 key makes the 32-bit form, an 8-bit key the 16-bit form (no type word).
template <class Key>
Bytes Node(const Key& key, const Bytes& value, const std::vector<Bytes>& children = {}) {
    constexpr bool wide = sizeof(key[0]) == 2;
    Bytes b(wide ? 6 : 4, 0);
    for (auto c : key) {
        b.push_back(static_cast<uint8_t>(c));
        if (wide) b.push_back(static_cast<uint8_t>(c >> 8));
    }
    b.resize((b.size() + (wide ? 2 : 1) + 3) / 4 * 4);  // NUL, then padding
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& c : children) b.insert(b.end(), c.begin(), c.end());
    Set16(b, 0, b.size());
    Set16(b, 2, value.size());
    return b;
}

// The fixed record: signature and structure version, the rest zero.
const Bytes kFixed = [] { Bytes b{0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0}; b.resize(52); return b; }();

Bytes Translation() { return Node(u"VarFileInfo", {}, {Node(u"Translation", {0x09, 0x04, 0xB0, 0x04})}); }

bool Query(const Bytes& block, const std::string& path, const void** value = nullptr, uint32_t* len = nullptr) {
    const void* v = nullptr;
    uint32_t l = 0;
    return platform::VerQueryValueBounded(block.data(), block.size(), path.c_str(), value ? value : &v, len ? len : &l);
}

const char* const kTranslation = "\\VarFileInfo\\Translation";

}  // namespace

TEST(FileVersion, ReadsAndComparesTheFixtureVersions) {
    cFileVersion v;
    // 0.0.x.y, majors of 32768 and more, a block stored under another name than 1: all success.
    for (auto [file, result, text] : {std::tuple{"version_0_0_3_4.dll", 1u, "0.0.3.4"},
                                      {"version_40000_1_2_3.dll", (40000u << 16) | 1, "40000.1.2.3"},
                                      {"version_name7.dll", 0x00030001u, "3.1.4.1"},
                                      {"version_1_2_40000_5.dll", 0x00010002u, "1.2.40000.5"}}) {
        EXPECT_EQ(static_cast<uint32_t>(v.OpenFile(Fixture(file))), result) << file;
        EXPECT_EQ(v.FileVersion(), text) << file;
    }
    EXPECT_EQ(cFileVersion::HiWord(v.VersionMinor()), -25536);  // the word helpers are signed
    EXPECT_TRUE(v.AreFilesEqual(Fixture("version_1_2_40000_5.dll"), Fixture("version_1_2_40000_5_copy.dll")));
    // Same major and minor, other build and revision.
    EXPECT_FALSE(v.AreFilesEqual(Fixture("version_1_2_40000_5.dll"), Fixture("version_1_2_7_7.dll")));
    EXPECT_EQ(v.FileVersion(), "1.2.7.7");  // the last file opened with success
    EXPECT_FALSE(v.AreFilesEqual(Fixture("version_1_2_7_7.dll"), Fixture("version_none.dll")));
    // The second file is not opened when the first has no version.
    cFileVersion fresh;
    EXPECT_FALSE(fresh.AreFilesEqual(Fixture("version_none.dll"), Fixture("version_1_2_7_7.dll")));
    EXPECT_EQ(fresh.FileVersion(), "0.0.0.0");
    // Files without a (sound) version fail and keep the previous values.
    const std::string text = testing::TempDir() + "/loomvale_version_text.dll";
    std::ofstream(text) << "MZ but nothing else";
    for (const std::string& path : {Fixture("version_none.dll"), Fixture("version_badsig.dll"), Fixture("version_overrun.dll"),
                                    Fixture("version_short.dll"), text, Fixture("does-not-exist.dll"), std::string(),
                                    std::string(LOOMVALE_FIXTURES)}) {
        EXPECT_EQ(v.OpenFile(path), 0) << path;
        EXPECT_EQ(v.FileVersion(), "1.2.7.7") << path;
    }
}

TEST(FileVersionInfo, PlatformCallsOnAFixture) {
    const std::string path = Fixture("version_1_2_40000_5.dll");
    uint32_t handle = 77;
    const uint32_t size = platform::GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 52u + 40u);
    std::vector<uint8_t> buf(size);
    EXPECT_FALSE(platform::GetFileVersionInfoA(path.c_str(), 0, size - 1, buf.data()));  // refused, not overrun
    ASSERT_TRUE(platform::GetFileVersionInfoA(path.c_str(), 0, size, buf.data()));
    const void* value = nullptr;
    uint32_t len = 0;
    ASSERT_TRUE(platform::VerQueryValueA(buf.data(), "\\varfileinfo\\TRANSLATION", &value, &len));
    EXPECT_TRUE(len == 4u && std::memcmp(value, "\x09\x04\xB0\x04", 4) == 0);
    // Text values and unknown keys are not answered.
    EXPECT_FALSE(platform::VerQueryValueA(buf.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &len));
    EXPECT_FALSE(platform::VerQueryValueA(buf.data(), "\\VarFileInfo\\Nothing", &value, &len));
    EXPECT_TRUE(value == nullptr && len == 0u && handle == 0u);
}

TEST(FileVersionInfo, WellFormedAndHostileBuffers) {
    // The first child starts at 92, after the header and the fixed record.
    const Bytes good = Node(u"VS_VERSION_INFO", kFixed, {Translation(), Node(u"Padding", Bytes(64, 0))});
    EXPECT_EQ(platform::VersionBlockLength(good.data(), good.size()), good.size());
    const void* value = nullptr;
    uint32_t len = 0;
    ASSERT_TRUE(Query(good, "\\", &value, &len));
    EXPECT_EQ(len, 52u);
    EXPECT_EQ(static_cast<const uint8_t*>(value), good.data() + 40);
    EXPECT_TRUE(Query(good, "VarFileInfo\\\\Translation\\"));  // empty parts are skipped

    // Every truncated prefix is refused.
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes b(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(platform::VersionBlockLength(b.data(), b.size()), 0u) << n;
        EXPECT_FALSE(Query(b, "\\")) << n;
    }
    const struct { size_t at, value; const char* path; } patches[] = {
        {0, 0xFFFF, "\\"}, {0, 0, "\\"}, {0, 4, "\\"}, {0, 20, "\\"},  // root length past the buffer or short
        {2, 0x7FFF, "\\"},                                                   // value length past the block
        {92, 0, kTranslation},     // a child of length zero would never advance the walk
        {92, 0xF0, kTranslation},  // a child claiming more than its parent holds
        {92 + 32, 60, kTranslation},  // a grandchild past its parent, though inside the buffer
    };
    for (const auto& p : patches) {
        Bytes b = good;
        Set16(b, p.at, p.value);
        EXPECT_FALSE(Query(b, p.path)) << p.at << " " << p.value;
    }
    // Wrong root key; a key without its NUL; no fixed record.
    EXPECT_FALSE(Query(Node(u"VS_VERSION_INFX", kFixed), "\\"));
    Bytes noNul = Node(u"VS_VERSION_INFOVS_VERSION_INFO", {});
    Set16(noNul, 0, 6 + 60);  // the block ends before the NUL
    EXPECT_FALSE(Query(noNul, "\\"));
    const Bytes empty = Node(u"VS_VERSION_INFO", {}, {Translation()});
    EXPECT_FALSE(Query(empty, "\\"));
    EXPECT_TRUE(Query(empty, kTranslation));

    // Very deep paths are cut off rather than followed.
    Bytes tower = Node(u"a", {1, 2, 3, 4});
    std::string path;
    for (int i = 0; i < 12; ++i, path += "\\a") tower = Node(u"a", {5, 6, 7, 8}, {tower});
    tower = Node(u"VS_VERSION_INFO", kFixed, {tower});
    EXPECT_TRUE(Query(tower, "\\a\\a\\a"));
    EXPECT_FALSE(Query(tower, path + "\\a"));
    EXPECT_FALSE(platform::VerQueryValueBounded(nullptr, 10, "\\", &value, &len));  // missing arguments
    EXPECT_FALSE(platform::VerQueryValueBounded(good.data(), good.size(), nullptr, &value, &len));
}

TEST(FileVersionInfo, SixteenBitModules) {
    // Version 3.10.0.103 in the 16-bit form: 8-bit keys, no type word.
    Bytes fixed = kFixed;
    for (auto [at, v] : {std::pair{8, 10}, {10, 3}, {12, 103}}) Set16(fixed, at, v);  // minor, major, revision
    using S = std::string;
    const Bytes block = Node(S("VS_VERSION_INFO"), fixed, {Node(S("VarFileInfo"), {}, {Node(S("Translation"), {0x09, 0x04, 0xE4, 0x04})})});
    EXPECT_EQ(platform::VersionBlockLength(block.data(), block.size()), block.size());
    const void* value = nullptr;
    uint32_t len = 0;
    ASSERT_TRUE(Query(block, "\\varfileinfo\\translation", &value, &len));
    EXPECT_TRUE(len == 4u && std::memcmp(value, "\x09\x04\xE4\x04", 4) == 0);
    for (size_t n = 0; n < block.size(); ++n)
        EXPECT_FALSE(Query(Bytes(block.begin(), block.begin() + static_cast<long>(n)), "\\")) << n;
    Bytes noNul = Node(S("VS_VERSION_INFO"), {});
    noNul.resize(4 + 15);
    Set16(noNul, 0, noNul.size());
    EXPECT_FALSE(Query(noNul, "\\"));

    // Read from a module, padded to its alignment unit as 16-bit linkers store it.
    const std::string path = testing::TempDir() + "/loomvale_version16.dll";
    for (uint16_t shift : {4, 9}) {
        testsupport::NeBuilder b;
        b.alignShift = shift;
        b.Add(platform::ResId::Int(14), platform::ResId::Int(1), {0, 0, 1, 0, 0, 0});
        b.Add(platform::ResId::Type(platform::ResourceType::Version), platform::ResId::Int(1), block);
        ASSERT_TRUE(testsupport::PeBuilder::WriteFile(path, b.Build()));
        cFileVersion v;
        EXPECT_EQ(v.OpenFile(path), 0x0003000A) << shift;
        EXPECT_EQ(v.FileVersion(), "3.10.0.103") << shift;
    }
    std::remove(path.c_str());
}
