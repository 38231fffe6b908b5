// The file-backed store (format, foreign files, crashes, concurrency, damage)
// and the registry class over it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/store/Environment.h"
#include "platform/store/RegistryStore.h"
#include "platform/text/TextCodec.h"
#include "registry/cRegistry.h"

namespace fs = std::filesystem;
using namespace platform;
using registry::Variant;

namespace {

const std::string kApp = "Software\\Brackwater\\Loomvale";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
std::string Z(const std::string& s) { return s + '\0'; }

// The error f raises; number 0 when it raises none.
template <class F>
registry::RegistryError Raised(F f) {
    try { f(); } catch (const registry::RegistryError& e) { return e; }
    return registry::RegistryError(0, "");
}
template <class F>
std::int32_t ErrorOf(F f) { return Raised(f).Number; }
constexpr auto kWriteFailed = static_cast<std::int32_t>(0x800469A9u);

registry::cRegistry Open(const std::string& section, HKEY root = HKEY_LOCAL_MACHINE) {
    registry::cRegistry reg;
    reg.ClassKey(static_cast<std::int32_t>(root));
    reg.SectionKey(section);
    return reg;
}
// Points reg at a value of the given type; returns it for chaining.
registry::cRegistry& At(registry::cRegistry& reg, const std::string& name, std::int32_t type = 0) {
    reg.ValueKey(name);
    reg.ValueType(type);
    return reg;
}

// Runs f in a child process; ExitCode waits for it.
template <class F>
pid_t Spawn(F f) {
    const pid_t kid = fork();
    if (kid == 0) f(), _exit(0);
    return kid;
}
int ExitCode(pid_t kid) {
    int status = 0;
    return kid > 0 && waitpid(kid, &status, 0) == kid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loomvale-reg-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("LOOMVALE_REGISTRY", dir_.c_str(), 1);
    }
    void TearDown() override {
        SetRegistryFaultHook(nullptr);
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    fs::path StorePath(const char* suffix = "") const { return fs::path(dir_) / ("HKEY_LOCAL_MACHINE.reg" + std::string(suffix)); }

    static void Set(const std::string& name, std::uint32_t type, const std::string& data) {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        EXPECT_EQ(RegSetValueExA(h, name, type, bytes, static_cast<std::uint32_t>(data.size())), ERROR_SUCCESS) << name;
        RegCloseKey(h);
    }
    static std::pair<std::uint32_t, std::string> Get(const std::string& name) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return {99, ""};
        std::uint32_t type = 98, size = 0;
        std::string out;
        if (RegQueryValueExA(h, name, &type, nullptr, &size) == ERROR_SUCCESS) {
            out.resize(size);
            RegQueryValueExA(h, name, &type, reinterpret_cast<std::uint8_t*>(out.data()), &size);
        }
        RegCloseKey(h);
        return {type, out};
    }
    std::string dir_;
};

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

TEST_F(StoreTest, ReadsExportsOfBothFormats) {
    setenv("WINDIR", "C:\\Windows", 1);
    setenv("TEMP", "/tmp/t", 1);
    // {export file, subkey, value, expected}; each file replaces the last.
    const std::tuple<const char*, const char*, const char*, Variant> cases[] = {
        {"export-unicode.reg", "", "Mask", Variant("*.exe;*.dll")},
        {"", "", "Folder", Variant("C:\\Windows\\Sys")},
        {"", "", "", Variant("Gr\xc3\xbc\xc3\x9f" "e \"quoted\" C:\\dir")},
        {"", "", "List", Variant(std::string("a\0bc\0", 5))},
        {"", "", "Big", Variant(std::int32_t{258})},
        {"", "", "Q", Variant(registry::ByteArray{1, 0, 0, 0, 0, 0, 0, 0})},
        {"", "\\Sub", "Bin", Variant(registry::ByteArray{0xde, 0xad, 0xbe, 0xef})},
        {"export-regedit4.reg", "", "caf\xc3\xa9", Variant("na\xc3\xafve")},  // ANSI text becomes UTF-8
        {"", "", "Folder", Variant("/tmp/t")},
        {"", "", "List", Variant(std::string("x\0y\0", 4))},
        {"", "", "SearchSystem", Variant(std::int32_t{0})}};
    registry::cRegistry reg;
    for (const auto& [file, sub, name, want] : cases) {
        if (*file) fs::copy_file(fs::path(REGISTRY_TEST_DATA) / file, StorePath(), fs::copy_options::overwrite_existing);
        reg = Open(kApp + sub);
        EXPECT_EQ(At(reg, name).Value(), want) << name;
    }
    // A change rewrites the file in the current format.
    At(reg, "Mask", REG_SZ).Value(Variant("*.ocx"));
    EXPECT_EQ(ReadFile(StorePath()).rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    EXPECT_EQ(At(reg, "Folder").Value(), Variant("/tmp/t"));
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

TEST_F(StoreTest, AFailedOrInterruptedWriteKeepsTheOldStore) {
    Set("Keep", REG_SZ, Z("old"));
    const std::string before = ReadFile(StorePath());
    for (RegWriteStep step : {RegWriteStep::WriteTemp, RegWriteStep::Sync, RegWriteStep::Rename}) {
        SetRegistryFaultHook([step](RegWriteStep s) { return s == step ? ENOSPC : 0; });
        registry::cRegistry reg = Open(kApp);
        EXPECT_EQ(ErrorOf([&] { At(reg, "Keep", REG_SZ).Value(Variant("new")); }), kWriteFailed);
        EXPECT_EQ(ReadFile(StorePath()), before) << static_cast<int>(step);
    }
    SetRegistryFaultHook(nullptr);

    // A crash with the new file written and synced, before the rename.
    ASSERT_EQ(ExitCode(Spawn([&] {
                  SetRegistryFaultHook([](RegWriteStep s) { return s == RegWriteStep::Rename ? (_exit(7), 0) : 0; });
                  Set("Keep", REG_SZ, Z("new"));
              })), 7);
    EXPECT_EQ(ReadFile(StorePath()), before);
    Set("Other", REG_SZ, Z("x"));
    for (auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << "the next write clears the leftover";
    EXPECT_EQ(Get("Keep").second, Z("old"));
}

TEST_F(StoreTest, AFolderThatMayNotBeWrittenGivesError26001) {
    // A path through a regular file fails even for root.
    std::ofstream(fs::path(dir_) / "file") << "x";
    setenv("LOOMVALE_REGISTRY", (dir_ + "/file/sub").c_str(), 1);
    registry::cRegistry reg = Open(kApp);
    EXPECT_EQ(ErrorOf([&] { reg.CreateKey(); }), 26001);  // the message: see the settings tests
    EXPECT_FALSE(reg.KeyExists());

    // A read-only folder that holds the store: reads work, writes raise.
    const std::string ro = dir_ + "/ro";
    fs::create_directory(ro);
    setenv("LOOMVALE_REGISTRY", ro.c_str(), 1);
    Set("Mask", REG_SZ, Z("*.exe"));
    At(reg, "Mask", REG_SZ);
    bool mounted = false;
    if (geteuid() != 0) {
        fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    } else if (!(mounted = mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                           mount(nullptr, ro.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0)) {
        umount(ro.c_str());
        GTEST_SKIP() << "root without a read-only bind mount";
    }
    EXPECT_TRUE(reg.KeyExists() && reg.Value() == Variant("*.exe"));
    EXPECT_EQ(ErrorOf([&] { Open("Software\\Brackwater\\Other").CreateKey(); }), 26001);
    EXPECT_EQ(ErrorOf([&] { reg.Value(Variant("*.dll")); }), 26001) << "the key cannot be opened for writing";
    if (mounted) umount(ro.c_str());
    fs::permissions(ro, fs::perms::owner_all);
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

class RegistryClass : public StoreTest {
protected:
    registry::cRegistry reg_ = Open(kApp);
    Variant Write(const std::string& name, std::int32_t type, const Variant& v) {
        At(reg_, name, type).Value(v);
        return At(reg_, name).Value();
    }
};

TEST_F(RegistryClass, ReadsBackWhatItWritesWithTheTypeFound) {
    using registry::ByteArray;
    setenv("TEMP", "/var/tmp", 1);
    EXPECT_FALSE(reg_.KeyExists());
    EXPECT_TRUE(reg_.CreateKey() && reg_.KeyExists());
    const std::tuple<const char*, std::int32_t, Variant, Variant, std::int32_t> cases[] = {
        {"Mask", REG_SZ, Variant("*.exe;*.dll"), Variant("*.exe;*.dll"), REG_SZ},
        {"Priority", REG_DWORD, Variant(std::int16_t{3}), Variant(std::int32_t{3}), REG_DWORD},
        {"Neg", REG_DWORD_BIG_ENDIAN, Variant(std::int32_t{-1}), Variant(std::int32_t{-1}), REG_DWORD},
        {"Bin", REG_BINARY, Variant(ByteArray{0, 1, 255}), Variant(ByteArray{0, 1, 255}), REG_BINARY},
        {"Nothing", REG_BINARY, Variant(ByteArray{}), Variant(ByteArray{}), REG_BINARY},
        {"Empty", REG_SZ, Variant(), Variant(""), REG_SZ},
        {"As text", REG_SZ, Variant(std::int32_t{42}), Variant("42"), REG_SZ},
        // %NAME% makes text expandable, expanded on read; "%%" does not count.
        {"T", REG_SZ, Variant("%TEMP%\\x"), Variant("/var/tmp\\x"), REG_EXPAND_SZ},
        {"Unknown", REG_SZ, Variant("%LV_NOT_SET_ANYWHERE%"), Variant("%LV_NOT_SET_ANYWHERE%"), REG_EXPAND_SZ},
        {"Pct", REG_EXPAND_SZ, Variant("100%% done"), Variant("100%% done"), REG_SZ}};
    for (const auto& [name, type, in, out, found] : cases) {
        EXPECT_EQ(Write(name, type, in), out) << name;
        EXPECT_EQ(reg_.ValueType(), found) << name;
    }
    Set("Short", REG_DWORD, std::string(2, '\0'));
    EXPECT_EQ(At(reg_, "Short").Value(), Variant(ByteArray{0, 0})) << "a number of the wrong size comes back as bytes";
}

TEST_F(RegistryClass, MissingValuesGiveDefaultAndBadWritesRaise) {
    EXPECT_TRUE(At(reg_, "Nope", 7).Value().IsEmpty());
    reg_.Default(Variant("fallback"));
    reg_.CreateKey();
    EXPECT_EQ(reg_.Value(), Variant("fallback"));
    EXPECT_EQ(reg_.ValueType(), 7);

    reg_.Default(Variant());
    At(reg_, "B", REG_DWORD).Value(Variant(true));  // Booleans are not numbers here: nothing written
    EXPECT_TRUE(At(reg_, "B").Value().IsEmpty());
    const auto e = Raised([&] { At(reg_, "B", REG_BINARY).Value(Variant("text")); });
    EXPECT_EQ(e.Number, 26001);
    EXPECT_EQ(e.Source, std::string(program_invocation_short_name) + ".cRegistry");
    EXPECT_EQ(Raised([&] { At(reg_, "B", REG_MULTI_SZ).Value(Variant("x")); }).Description,
              "Failed to set registry value Key: '-2147483646',Section: 'Software\\Brackwater\\Loomvale',Key: 'B' to "
              "value: 'x'");
    EXPECT_EQ(ErrorOf([&] { At(reg_, "Bad\nName", REG_SZ).Value(Variant("x")); }), kWriteFailed);
    reg_.ClassKey(12345);
    EXPECT_EQ(ErrorOf([&] { reg_.CreateKey(); }), 26001);
    EXPECT_FALSE(reg_.KeyExists());
}

TEST_F(RegistryClass, DeletingAndListing) {
    EXPECT_EQ(ErrorOf([&] { reg_.DeleteKey(); }), 26001);
    Write("b", REG_SZ, Variant("1"));
    Write("A", REG_SZ, Variant("2"));
    EXPECT_EQ(ErrorOf([&] { At(reg_, "missing").DeleteValue(); }), 26001);
    std::vector<std::string> names{"stale"};
    std::int32_t count = -1;
    EXPECT_TRUE(reg_.EnumerateValues(names, count));
    EXPECT_EQ(names, (std::vector<std::string>{"b", "A"}));
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(At(reg_, "B").DeleteValue());
    EXPECT_TRUE(Open("software\\BRACKWATER\\loomvale\\Child").CreateKey());
    EXPECT_TRUE(Open("Software\\Brackwater").EnumerateSections(names, count));
    EXPECT_EQ(names, std::vector<std::string>{"Loomvale"}) << "keys keep their first spelling";
    EXPECT_EQ(ErrorOf([&] { reg_.DeleteKey(); }), 26001) << "a key with a subkey stays";
    EXPECT_TRUE(Open(kApp + "\\Child").DeleteKey());
    EXPECT_EQ(ErrorOf([&] { Open("Software\\\\X").CreateKey(); }), 26001) << "empty path part";
    EXPECT_TRUE(Open("Software\\Nowhere").EnumerateValues(names, count));
    EXPECT_TRUE(names.empty() && count == 0);
    EXPECT_TRUE(reg_.DeleteKey());
    EXPECT_FALSE(reg_.KeyExists());
}

TEST_F(RegistryClass, AssociationsRegisterTheFileType) {
    registry::cRegistry r;
    r.CreateEXEAssociation("  /opt/lv/viewer ", "Lv.Doc", "Loomvale document", "lvd", "", true, "", false, "", false,
                           "", 2);
    const std::pair<const char*, Variant> keys[] = {
        {".lvd", Variant("Lv.Doc")}, {"Lv.Doc\\shell\\open\\command", Variant("\"/opt/lv/viewer\" \"%1\"")},
        {"Lv.Doc\\shell\\print\\command", Variant("\"/opt/lv/viewer\" /p \"%1\"")}, {"Lv.Doc\\shell\\new", Variant()},
        {"Lv.Doc\\DefaultIcon", Variant("\"/opt/lv/viewer\",2")}};
    for (const auto& [key, want] : keys) EXPECT_EQ(Open(key, HKEY_CLASSES_ROOT).Value(), want) << key;
    const std::vector<Variant> edit{Variant("edit"), Variant("&Edit"), Variant("ed \"%1\"")};
    EXPECT_EQ(ErrorOf([&] { r.CreateAdditionalEXEAssociations("No.Class", edit); }), registry::kErrClassNotDefined);
    r.CreateAdditionalEXEAssociations("Lv.Doc", edit);
    EXPECT_EQ(Open("Lv.Doc\\shell\\edit\\command", HKEY_CLASSES_ROOT).Value(), Variant("ed \"%1\""));
}

}  // namespace
