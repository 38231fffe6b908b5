// The file-backed settings store: its format, foreign files, crashes,
// concurrency and damage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/store/Environment.h"
#include "platform/store/RegistryStore.h"
#include "platform/text/TextCodec.h"
#include "tests/support/StoreFixture.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

TEST_F(StoreTest, EveryTypeSurvivesAFreshParseOfTheFile) {
    std::string blob;
    for (int i = 0; i < 300; ++i) blob += static_cast<char>(i);
    Set("ZETA", REG_SZ, Z("1"));
    const std::tuple<std::string, std::uint32_t, std::string> values[] = {
        {"Plain", REG_SZ, Z("*.exe;*.dll")},
        {"Awkward", REG_SZ, Z("a \"q\" C:\\p\\ end\\\r\nline two\ttab \xc3\xbc \xe2\x82\xac \xf0\x9f\x98\x80 bad\xff\xfe byte")},
        {"", REG_SZ, Z("default")},
        {"Empty", REG_SZ, Z("")},
        {"Expand", REG_EXPAND_SZ, Z("%HOME%\\x")},
        {"Multi", REG_MULTI_SZ, std::string("one\0two \"q\"\0\xc3\xa9t\xc3\xa9\0\0", 17)},
        {"Dword", REG_DWORD, std::string("\x2a\0\0\x80", 4)},
        {"Big", REG_DWORD_BIG_ENDIAN, std::string("\0\0\1\2", 4)},
        {"Qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x08", 8)},
        {"Blob", REG_BINARY, blob},
        {"Odd \"name\" \\ \xc3\xa4", 0x1234, "xyz"},
        {"Zeta", REG_SZ, Z("3")}};
    for (const auto& [name, type, data] : values) Set(name, type, data);

    // Header, line ends, wrapping and the usual value forms: see the 1.0 store below, written byte for byte.
    const std::string file = ReadFile(StorePath());
    for (const char* line : {"\"Dword\"=dword:8000002a\r\n", "\"Odd \\\"name\\\" \\\\ \xc3\xa4\"=hex(1234):78,79,7a"})
        EXPECT_NE(file.find(line), std::string::npos) << line;
    EXPECT_LT(file.find("\"ZETA\"=\"3\"\r\n"), file.find("\"Plain\"")) << "first spelling and place kept";
    RegHive parsed;
    std::string why;
    ASSERT_TRUE(ParseRegFile(file, HKEY_LOCAL_MACHINE, parsed, &why)) << why;
    EXPECT_EQ(FormatRegFile(parsed, HKEY_LOCAL_MACHINE), file);
    // The copy in memory is dropped when the file changes identity.
    fs::copy_file(StorePath(), fs::path(dir_) / "copy");
    fs::rename(fs::path(dir_) / "copy", StorePath());
    for (const auto& [name, type, data] : values) EXPECT_EQ(Get(name), std::make_pair(type, data)) << name;
    EXPECT_EQ(Get("ODD \"NAME\" \\ \xc3\x84").first, 0x1234u) << "names compare without case, also beyond ASCII";
}

TEST(StoreFormat, HandEditedStoresReadAsWritten) {
    const std::string deep = [] {
        std::string p = "K";
        for (int i = 0; i < 100000; ++i) p += "\\d";
        return p;
    }();
    const auto levels = [](int n) {
        std::string p = "L";
        for (int i = 1; i < n; ++i) p += "\\l";
        return p;
    };
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
    // {case, file, key, value, type found, data as UTF-8 text (or bytes); type 0 = no such value}
    const std::tuple<const char*, std::string, std::string, const char*, std::uint32_t, std::string> cases[] = {
        {"upper-case HEX over two lines", v5 + "\"v\"=HEX:01,\\\r\n  02\r\n", "K", "v", REG_BINARY, "\x01\x02"},
        {"HEX(2)", v5 + "\"v\"=HEX(2):41,00,00,00\r\n", "K", "v", REG_EXPAND_SZ, Z("A")},
        {"Hex(7) continued", v5 + "\"v\"=Hex(7):61,00,00,00,\\\r\n 00,00\r\n", "K", "v", REG_MULTI_SZ, Z(Z("a"))},
        {"DWORD", v5 + "\"v\"=DWORD:0000000A\r\n", "K", "v", REG_DWORD, std::string("\x0a\0\0\0", 4)},
        {"a bad byte elsewhere", v5 + "\"bad\"=\"\xff\"\r\n\"v\"=\"/home/\xc3\xa9l\xc3\xa8ve\"\r\n", "K", "v", REG_SZ,
         Z("/home/\xc3\xa9l\xc3\xa8ve")},
        {"bad bytes kept as they stand", v5 + "\"v\"=\"a\xff\xc3\"\r\n", "K", "v", REG_SZ, Z("a\xff\xc3")},
        {"ANSI export, each text on its own", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"caf\xe9\"\r\n\"w\"=\"\xc3\xa9t\xc3\xa9\"\r\n",
         "K", "w", REG_SZ, Z("\xc3\xa9t\xc3\xa9")},
        {"100,000 levels refused, the rest kept", v5 + "[HKEY_LOCAL_MACHINE\\" + deep + "]\r\n\"x\"=\"deep\"\r\n"
         "[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"kept\"\r\n", "K", "v", REG_SZ, Z("kept")},
        {"512 levels", v5 + "[HKEY_LOCAL_MACHINE\\" + levels(512) + "]\r\n\"v\"=\"in\"\r\n", levels(512), "v", REG_SZ, Z("in")},
        {"513 levels", v5 + "[HKEY_LOCAL_MACHINE\\" + levels(513) + "]\r\n\"v\"=\"in\"\r\n", levels(513), "v", 0, ""},
        {"a deleted tree takes its subkeys only", v5 + "[HKEY_LOCAL_MACHINE\\K\\c]\r\n[HKEY_LOCAL_MACHINE\\K!]\r\n"
         "[HKEY_LOCAL_MACHINE\\K2]\r\n\"v\"=dword:1\r\n[-HKEY_LOCAL_MACHINE\\k]\r\n\"v\"=\"ignored\"\r\n", "K2", "v", REG_DWORD,
         std::string("\1\0\0\0", 4)},
    };
    for (const auto& [label, file, key, name, type, want] : cases) {
        RegHive hive;
        std::string why;
        ASSERT_TRUE(ParseRegFile(file, HKEY_LOCAL_MACHINE, hive, &why)) << label << ": " << why;
        const RegKeyData* k = hive.Find(key);
        const RegValue* v = k ? k->FindValue(name) : nullptr;
        EXPECT_EQ(v ? v->type : 0u, type) << label;
        if (!v) continue;
        EXPECT_EQ(IsTextType(type) ? text::Utf16LeToUtf8KeepingBytes(v->data) : std::string(v->data.begin(), v->data.end()), want)
            << label;
        RegHive again;
        EXPECT_TRUE(ParseRegFile(FormatRegFile(hive, HKEY_LOCAL_MACHINE), HKEY_LOCAL_MACHINE, again) && again == hive)
            << label << ": written and read again";
    }
    RegHive hive;
    ParseRegFile(std::get<1>(cases[10]), HKEY_LOCAL_MACHINE, hive);
    EXPECT_TRUE(!hive.Find("K") && !hive.Find("K\\c") && hive.Find("K!")) << "deleted tree";
}

TEST_F(StoreTest, AStoreOfTheLastReleaseLoadsAndIsWrittenTheSame) {
    // Written by 1.0 with every setting, a name with a byte that is not UTF-8 and a non-ASCII key.
    const std::string file = ReadFile(fs::path(REGISTRY_TEST_DATA) / "written-by-1.0.reg");
    fs::copy_file(fs::path(REGISTRY_TEST_DATA) / "written-by-1.0.reg", StorePath());
    EXPECT_EQ(Get("DestPath").second, Z("/home/\xc3\xa9l\xc3\xa8ve/Documents/Resources \"\xe2\x82\xac\" \\ ;x"));
    EXPECT_EQ(Get("Odd \xff byte"), std::make_pair(std::uint32_t{REG_SZ}, Z("bad \xfe\xff bytes \xf0\x9f\x98\x80")));
    EXPECT_EQ(Get("Folder").first, std::uint32_t{REG_EXPAND_SZ});
    Set("Priority", REG_DWORD, std::string("\3\0\0\0", 4));  // unchanged: nothing written
    Set("Priority", REG_DWORD, std::string("\4\0\0\0", 4));
    std::string want = file;
    want.replace(want.find("\"Priority\"=dword:00000003"), 25, "\"Priority\"=dword:00000004");
    EXPECT_EQ(ReadFile(StorePath()), want);
    HKEY h;
    std::string deep = kApp;  // three levels, then up to 512
    for (int i = 3; i < 512; ++i) deep += "\\x";
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, deep, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS) << "512 levels";
    RegCloseKey(h);
    deep += "\\x";
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, deep, 0, KEY_ALL_ACCESS, &h), ERROR_BAD_PATHNAME) << "513 levels";
}

TEST_F(StoreTest, DamagedStoresAreSetAsideNeverOverwritten) {
    const std::string x = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n";
    const std::string bad[] = {"not a registry file\r\n", "REGEDIT4\r\n\"v\"=\"outside a key\"\r\n",
                               "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n", x + "\"v\"=dword:123456789\r\n",
                               x + "\"v\"=hex:1,zz\r\n", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X\r\n", "\xff\xfe\x41"};
    RegHive h;
    for (const std::string& text : bad) EXPECT_FALSE(ParseRegFile(text, HKEY_LOCAL_MACHINE, h)) << text;
    std::ofstream(StorePath(), std::ios::binary) << "garbage one";
    EXPECT_EQ(Get("Plain").first, 99u) << "reads as empty";
    EXPECT_EQ(ReadFile(StorePath(".corrupt")), "garbage one");
    EXPECT_EQ(TakeSetAsideNotices(), std::vector<std::string>{StorePath(".corrupt").string()});
    EXPECT_TRUE(TakeSetAsideNotices().empty()) << "said once";
    EXPECT_FALSE(fs::exists(StorePath()));
    std::ofstream(StorePath(), std::ios::binary) << "garbage two";
    Set("Plain", REG_SZ, Z("x"));
    EXPECT_EQ(ReadFile(StorePath(".corrupt")) + ReadFile(StorePath(".corrupt.1")), "garbage onegarbage two");
    EXPECT_EQ(Get("Plain").second, Z("x"));
}

TEST_F(StoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 60;
    const auto name = [](int k, int i) { return "p" + std::to_string(k) + "_" + std::to_string(i); };
    const auto writer = [&](int k) {
        return [&, k] { for (int i = 0; i < kEach; ++i) Set(name(k, i), REG_SZ, Z(std::to_string(i))); };
    };
    const pid_t kids[] = {Spawn(writer(0)), Spawn(writer(1))};
    EXPECT_EQ(ExitCode(kids[0]) + ExitCode(kids[1]), 0);
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(Get(name(k, i)).second, Z(std::to_string(i)));
}

// Values saved together in a batch are one write: two processes saving at
// the same moment leave one's values, never a mix, and keep what else the
// store holds. (Each value its own write, 5 of 15 such closes mixed.)
TEST_F(StoreTest, BatchesAreOneWriteAndNeverMix) {
    Set("Other", REG_SZ, Z("kept"));
    const auto save = [&](const std::string& who) {
        return [&, who] {
            StoreBatch batch(HKEY_LOCAL_MACHINE, RegScope{kApp});
            for (int i = 0; i < 12; ++i) Set("v" + std::to_string(i), REG_SZ, Z(who));
            _exit(batch.Commit() == ERROR_SUCCESS ? 0 : 1);
        };
    };
    for (int trial = 0; trial < 30; ++trial) {
        const pid_t kids[] = {Spawn(save("A")), Spawn(save("B"))};
        ASSERT_EQ(ExitCode(kids[0]) + ExitCode(kids[1]), 0);
        const std::string first = Get("v0").second;
        for (int i = 1; i < 12; ++i) ASSERT_EQ(Get("v" + std::to_string(i)).second, first) << "trial " << trial;
    }
    EXPECT_EQ(Get("Other").second, Z("kept"));
    // One temporary file, one rename; a batch not committed writes nothing.
    int renames = 0;
    SetRegistryFaultHook([&](RegWriteStep s) { return renames += s == RegWriteStep::Rename, 0; });
    {
        StoreBatch batch(HKEY_LOCAL_MACHINE, RegScope{kApp});
        for (int i = 0; i < 12; ++i) Set("v" + std::to_string(i), REG_SZ, Z("C"));
        EXPECT_EQ(Get("v3").second, Z("C")) << "reads in a batch see its changes";
        EXPECT_EQ(batch.Commit(), ERROR_SUCCESS);
    }
    { StoreBatch dropped(HKEY_LOCAL_MACHINE, RegScope{kApp}); Set("v0", REG_SZ, Z("D")); }
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(Get("v0").second, Z("C"));
}

// A change writes its key's section anew and copies every other byte of a
// store in our own form as it is (a large store costs one read and one
// write, and only the key in hand is held); a store in another form
// (REGEDIT4, UTF-16, key deletions) is rewritten whole.
TEST_F(StoreTest, AChangeRewritesItsKeyAndCopiesTheRest) {
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string before = "[HKEY_LOCAL_MACHINE\\Other]\r\n\"A\"=\"1\"   ; kept as typed\r\n\r\n";
    const std::string app = "[HKEY_LOCAL_MACHINE\\" + kApp + "]\r\n\"Old\"=dword:00000001\r\n\r\n";
    const std::string after = "[HKEY_LOCAL_MACHINE\\Zeta]\r\n@=hex:01,\\\r\n  02\r\n";
    std::ofstream(StorePath(), std::ios::binary) << head + before + app + after;
    Set("New", REG_SZ, Z("x"));
    // Its parents come with it, where it stood.
    EXPECT_EQ(ReadFile(StorePath()), head + before + "[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n" +
                                         "[HKEY_LOCAL_MACHINE\\Software\\Brackwater]\r\n\r\n" +
                                         "[HKEY_LOCAL_MACHINE\\" + kApp +
                                         "]\r\n\"Old\"=dword:00000001\r\n\"New\"=\"x\"\r\n\r\n" + after);
    // Another form: read and written whole, nothing lost.
    std::ofstream(StorePath(), std::ios::binary) << "REGEDIT4\r\n\r\n" + before + "[-HKEY_LOCAL_MACHINE\\Gone]\r\n";
    Set("New", REG_SZ, Z("y"));
    const std::string whole = ReadFile(StorePath());
    EXPECT_TRUE(whole.starts_with(head)) << whole;
    EXPECT_NE(whole.find("[HKEY_LOCAL_MACHINE\\Other]\r\n\"A\"=\"1\"\r\n"), std::string::npos) << whole;
    EXPECT_EQ(Get("New").second, Z("y"));
}

// A store kept as a symbolic link (dotfile managers do that) is written
// through: the link stays and its target gets the values.
TEST_F(StoreTest, ALinkedStoreStaysALink) {
    fs::create_directory(fs::path(dir_) / "dotfiles");
    std::ofstream(fs::path(dir_) / "dotfiles/hklm.reg") << "REGEDIT4\r\n";
    fs::create_symlink("dotfiles/hklm.reg", StorePath());
    Set("Plain", REG_SZ, Z("x"));
    {
        StoreBatch batch(HKEY_LOCAL_MACHINE, RegScope{kApp});
        Set("Other", REG_SZ, Z("y"));
        EXPECT_EQ(batch.Commit(), ERROR_SUCCESS);
    }
    ASSERT_TRUE(fs::is_symlink(StorePath()));
    EXPECT_EQ(fs::read_symlink(StorePath()), "dotfiles/hklm.reg");
    const std::string text = ReadFile(fs::path(dir_) / "dotfiles/hklm.reg");
    EXPECT_NE(text.find("\"Plain\"=\"x\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Other\"=\"y\""), std::string::npos) << text;
    EXPECT_EQ(Get("Other").second, Z("y"));
}

TEST(Environment, ExpandsKnownNamesAndKeepsUnknownOnes) {
    setenv("LV_ONE", "1", 1);
    setenv("LV_Path", "/p", 1);
    unsetenv("LV_NOPE");
    const std::pair<const char*, const char*> cases[] = {{"%LV_ONE%\\x", "1\\x"}, {"a%LV_NOPE%b", "a%LV_NOPE%b"},
        {"%lv_path%/%LV_ONE%", "/p/1"}, {"100%", "100%"}, {"%%", "%%"}, {"%LV_NOPE%LV_ONE%", "%LV_NOPE1"}, {"", ""}};
    for (const auto& [in, out] : cases) EXPECT_EQ(ExpandEnvironmentStringsA(in), out) << in;
}

TEST(Environment, SystemFolderIsTheWinePrefixsSystem32) {
    char tmpl[] = "/tmp/loomvale-wine-XXXXXX";
    const std::string prefix = mkdtemp(tmpl), home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", prefix.c_str(), 1);
    for (const std::string wine : {"", "/.wine"}) {  // WINEPREFIX, else ~/.wine
        if (wine.empty()) setenv("WINEPREFIX", prefix.c_str(), 1); else unsetenv("WINEPREFIX");
        fs::create_directories(prefix + wine + "/drive_c/windows/system32");
        EXPECT_EQ(GetSystemDirectoryA(), prefix + wine + "/drive_c/windows/system32");
    }
    setenv("HOME", home.c_str(), 1);
    fs::remove_all(prefix);
}

}  // namespace
