#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "controls/cFileVersion.h"
#include "platform/FileVersionInfo.h"

namespace {

std::string Fixture(const char* name) { return std::string(LOOMVALE_FIXTURES) + "/" + name; }

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v));
    Put16(b, static_cast<uint16_t>(v >> 16));
}
void Pad(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

// One block of a version tree with correct lengths and padding.
Bytes Node(const std::u16string& key, const Bytes& value, const std::vector<Bytes>& children = {},
           uint16_t type = 0) {
    Bytes b(6, 0);
    for (char16_t c : key) Put16(b, c);
    Put16(b, 0);
    Pad(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& c : children) {
        Pad(b);
        b.insert(b.end(), c.begin(), c.end());
    }
    b[0] = static_cast<uint8_t>(b.size());
    b[1] = static_cast<uint8_t>(b.size() >> 8);
    const size_t valueLength = type == 1 ? value.size() / 2 : value.size();
    b[2] = static_cast<uint8_t>(valueLength);
    b[3] = static_cast<uint8_t>(valueLength >> 8);
    b[4] = static_cast<uint8_t>(type);
    return b;
}

Bytes Fixed(uint32_t ms, uint32_t ls, uint32_t signature = 0xFEEF04BD) {
    Bytes b;
    Put32(b, signature);
    Put32(b, 0x10000);
    Put32(b, ms);
    Put32(b, ls);
    for (int i = 0; i < 9; ++i) Put32(b, 0);
    return b;
}

Bytes Translation() {
    Bytes t;
    Put16(t, 0x409);
    Put16(t, 1200);
    return Node(u"VarFileInfo", {}, {Node(u"Translation", t)}, 1);
}

bool Query(const Bytes& block, const char* path, const void** value = nullptr, uint32_t* len = nullptr) {
    const void* v = nullptr;
    uint32_t l = 0;
    bool ok = platform::VerQueryValueBounded(block.data(), block.size(), path, &v, &l);
    if (value) *value = v;
    if (len) *len = l;
    return ok;
}

}  // namespace

TEST(FileVersion, ReadsVersionOfFixtureFiles) {
    cFileVersion v;
    EXPECT_EQ(v.FileVersion(), "0.0.0.0");
    EXPECT_EQ(v.OpenFile(Fixture("version_1_2_40000_5.dll")), 0x00010002);
    EXPECT_EQ(v.FileVersion(), "1.2.40000.5");
    EXPECT_EQ(v.VersionMajor(), 0x00010002);
    EXPECT_EQ(v.VersionMinor(), static_cast<int32_t>((40000u << 16) | 5));
    EXPECT_EQ(cFileVersion::LoWord(v.VersionMinor()), 5);
    EXPECT_EQ(cFileVersion::HiWord(v.VersionMinor()), -25536);

    // 0.0.x.y and majors of 32768 and more still report success.
    EXPECT_EQ(v.OpenFile(Fixture("version_0_0_3_4.dll")), 1);
    EXPECT_EQ(v.FileVersion(), "0.0.3.4");
    const int32_t big = v.OpenFile(Fixture("version_40000_1_2_3.dll"));
    EXPECT_NE(big, 0);
    EXPECT_EQ(static_cast<uint32_t>(big), (40000u << 16) | 1);
    EXPECT_EQ(v.FileVersion(), "40000.1.2.3");

    // A version block stored under another name than 1 is still found.
    EXPECT_NE(v.OpenFile(Fixture("version_name7.dll")), 0);
    EXPECT_EQ(v.FileVersion(), "3.1.4.1");
}

TEST(FileVersion, FilesWithoutVersionKeepThePreviousValues) {
    const std::string text = testing::TempDir() + "/loomvale_version_text.dll";
    std::ofstream(text) << "MZ but nothing else";
    const char* none[] = {"version_none.dll", "version_badsig.dll", "version_overrun.dll", "version_short.dll"};

    cFileVersion fresh;
    EXPECT_EQ(fresh.OpenFile(Fixture("version_none.dll")), 0);
    EXPECT_EQ(fresh.FileVersion(), "0.0.0.0");
    EXPECT_EQ(fresh.VersionMajor(), 0);

    cFileVersion v;
    ASSERT_NE(v.OpenFile(Fixture("version_1_2_40000_5.dll")), 0);
    for (const char* name : none) {
        EXPECT_EQ(v.OpenFile(Fixture(name)), 0) << name;
        EXPECT_EQ(v.FileVersion(), "1.2.40000.5") << name;
    }
    EXPECT_EQ(v.OpenFile(text), 0);
    EXPECT_EQ(v.OpenFile(Fixture("does-not-exist.dll")), 0);
    EXPECT_EQ(v.OpenFile(""), 0);
    EXPECT_EQ(v.OpenFile(LOOMVALE_FIXTURES), 0);  // a folder
    EXPECT_EQ(v.FileVersion(), "1.2.40000.5");
}

TEST(FileVersion, AreFilesEqualComparesTheWholeVersion) {
    cFileVersion v;
    EXPECT_TRUE(v.AreFilesEqual(Fixture("version_1_2_40000_5.dll"), Fixture("version_1_2_40000_5_copy.dll")));
    // Same major and minor, other build and revision.
    EXPECT_FALSE(v.AreFilesEqual(Fixture("version_1_2_40000_5.dll"), Fixture("version_1_2_7_7.dll")));
    EXPECT_EQ(v.FileVersion(), "1.2.7.7");  // the last file opened with success
    EXPECT_FALSE(v.AreFilesEqual(Fixture("version_none.dll"), Fixture("version_badsig.dll")));
    EXPECT_FALSE(v.AreFilesEqual(Fixture("version_1_2_7_7.dll"), Fixture("version_none.dll")));

    // The second file is not opened when the first has no version.
    cFileVersion fresh;
    EXPECT_FALSE(fresh.AreFilesEqual(Fixture("version_none.dll"), Fixture("version_1_2_7_7.dll")));
    EXPECT_EQ(fresh.FileVersion(), "0.0.0.0");
}

TEST(FileVersion, WordHelpersAreSigned) {
    EXPECT_EQ(cFileVersion::LoWord(0x1234FFFF), -1);
    EXPECT_EQ(cFileVersion::HiWord(0x80000001), -32768);
    EXPECT_EQ(cFileVersion::HiWord(0x7FFF0000), 32767);
}

TEST(FileVersionInfo, PlatformCallsOnAFixture) {
    const std::string path = Fixture("version_1_2_40000_5.dll");
    uint32_t handle = 77;
    const uint32_t size = platform::GetFileVersionInfoSizeA(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    ASSERT_GT(size, 52u + 40u);

    // A buffer too small for the block is refused, not overrun.
    std::vector<uint8_t> small(size - 1);
    EXPECT_FALSE(platform::GetFileVersionInfoA(path.c_str(), 0, static_cast<uint32_t>(small.size()), small.data()));

    std::vector<uint8_t> buf(size);
    ASSERT_TRUE(platform::GetFileVersionInfoA(path.c_str(), 0, size, buf.data()));
    const void* value = nullptr;
    uint32_t len = 0;
    ASSERT_TRUE(platform::VerQueryValueA(buf.data(), "\\", &value, &len));
    EXPECT_EQ(len, 52u);
    ASSERT_TRUE(platform::VerQueryValueA(buf.data(), "\\varfileinfo\\TRANSLATION", &value, &len));
    ASSERT_EQ(len, 4u);
    uint16_t pair[2];
    std::memcpy(pair, value, 4);
    EXPECT_EQ(pair[0], 0x409);
    EXPECT_EQ(pair[1], 1200);
    // Text values and unknown keys are not answered.
    EXPECT_FALSE(platform::VerQueryValueA(buf.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &len));
    EXPECT_FALSE(platform::VerQueryValueA(buf.data(), "\\VarFileInfo\\Nothing", &value, &len));
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(len, 0u);
}

TEST(FileVersionInfo, WellFormedBuffers) {
    const Bytes block = Node(u"VS_VERSION_INFO", Fixed(0x10002, 0x30004), {Translation()});
    EXPECT_EQ(platform::VersionBlockLength(block.data(), block.size()), block.size());
    const void* value = nullptr;
    uint32_t len = 0;
    ASSERT_TRUE(Query(block, "\\", &value, &len));
    EXPECT_EQ(len, 52u);
    EXPECT_EQ(static_cast<const uint8_t*>(value), block.data() + 40);
    ASSERT_TRUE(Query(block, "\\VarFileInfo\\Translation", &value, &len));
    EXPECT_EQ(len, 4u);
    EXPECT_TRUE(Query(block, "VarFileInfo\\\\Translation\\"));  // empty parts are skipped
}

TEST(FileVersionInfo, HostileBuffersAreRefused) {
    const Bytes good = Node(u"VS_VERSION_INFO", Fixed(0x10002, 0x30004), {Translation()});

    // Root length past the buffer, zero, or smaller than its own header.
    for (uint16_t length : {uint16_t(good.size() + 4), uint16_t(0), uint16_t(4), uint16_t(20)}) {
        Bytes b = good;
        b[0] = static_cast<uint8_t>(length);
        b[1] = static_cast<uint8_t>(length >> 8);
        EXPECT_EQ(platform::VersionBlockLength(b.data(), b.size()), 0u) << length;
        EXPECT_FALSE(Query(b, "\\")) << length;
    }
    // Truncated buffers: every prefix is refused or answered within itself.
    for (size_t n = 0; n < good.size(); ++n) {
        Bytes b(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(platform::VersionBlockLength(b.data(), b.size()), 0u) << n;
        EXPECT_FALSE(Query(b, "\\")) << n;
    }
    // Wrong root key.
    const Bytes other = Node(u"VS_VERSION_INFX", Fixed(1, 1), {});
    EXPECT_EQ(platform::VersionBlockLength(other.data(), other.size()), 0u);
    EXPECT_FALSE(Query(other, "\\"));

    // A key that runs to the end of the block without its NUL.
    Bytes noNul(6, 0);
    for (char16_t c : std::u16string(u"VS_VERSION_INFOVS_VERSION_INFO")) Put16(noNul, c);
    noNul[0] = static_cast<uint8_t>(noNul.size());
    EXPECT_FALSE(Query(noNul, "\\"));

    // Value length past the block end.
    Bytes longValue = good;
    longValue[2] = 0xFF;
    longValue[3] = 0x7F;
    EXPECT_FALSE(Query(longValue, "\\"));

    // Empty fixed record.
    const Bytes empty = Node(u"VS_VERSION_INFO", {}, {Translation()});
    EXPECT_FALSE(Query(empty, "\\"));
    EXPECT_TRUE(Query(empty, "\\VarFileInfo\\Translation"));
}

TEST(FileVersionInfo, HostileChildrenEndTheWalk) {
    // A child of length zero would never advance the walk.
    Bytes zero = Node(u"VS_VERSION_INFO", Fixed(1, 1), {Translation()});
    zero[92] = 0;
    zero[93] = 0;
    EXPECT_FALSE(Query(zero, "\\VarFileInfo\\Translation"));
    EXPECT_TRUE(Query(zero, "\\"));

    // A child claiming more than its parent holds.
    Bytes over = Node(u"VS_VERSION_INFO", Fixed(1, 1), {Translation()});
    over[92] = 0xF0;
    EXPECT_FALSE(Query(over, "\\VarFileInfo\\Translation"));

    // A grandchild running past its parent, though inside the buffer.
    Bytes deep = Node(u"VS_VERSION_INFO", Fixed(1, 1), {Translation(), Node(u"Padding", Bytes(64, 0))});
    const size_t grandChild = 92 + 32;  // header and "VarFileInfo", padded
    deep[grandChild] = 60;
    EXPECT_FALSE(Query(deep, "\\VarFileInfo\\Translation"));

    // Very deep paths are cut off rather than followed.
    std::vector<Bytes> nest{Node(u"a", Bytes{1, 2, 3, 4})};
    std::string path;
    for (int i = 0; i < 12; ++i) {
        nest = {Node(u"a", Bytes{5, 6, 7, 8}, nest)};
        path += "\\a";
    }
    const Bytes tower = Node(u"VS_VERSION_INFO", Fixed(1, 1), nest);
    EXPECT_TRUE(Query(tower, "\\a\\a\\a"));
    EXPECT_FALSE(Query(tower, (path + "\\a").c_str()));

    // Missing arguments.
    EXPECT_FALSE(platform::VerQueryValueBounded(nullptr, 10, "\\", nullptr, nullptr));
    const void* v = nullptr;
    uint32_t l = 0;
    EXPECT_FALSE(platform::VerQueryValueBounded(zero.data(), zero.size(), nullptr, &v, &l));
}
