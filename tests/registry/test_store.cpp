// The file-backed store: format, foreign files, crashes, concurrency, damage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Environment.h"
#include "platform/RegistryStore.h"
#include "registry/cRegistry.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loomvale-reg-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("LOOMVALE_REGISTRY", dir_.c_str(), 1);
        SetRegistryFaultHook(nullptr);
    }
    void TearDown() override {
        SetRegistryFaultHook(nullptr);
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    fs::path StorePath() const { return fs::path(dir_) / "HKEY_LOCAL_MACHINE.reg"; }

    static void Set(const std::string& name, std::uint32_t type, const std::string& data) {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(h, name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                                 static_cast<std::uint32_t>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(h);
    }
    static std::pair<std::uint32_t, std::string> Get(const std::string& name, const std::string& key = "Software\\Test") {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return {99, ""};
        std::uint32_t type = 0, size = 0;
        std::string out;
        if (RegQueryValueExA(h, name, &type, nullptr, &size) == ERROR_SUCCESS) {
            out.resize(size);
            RegQueryValueExA(h, name, &type, reinterpret_cast<std::uint8_t*>(out.data()), &size);
        } else {
            type = 98;
        }
        RegCloseKey(h);
        return {type, out};
    }
    std::string dir_;
};

const std::string kMulti("one\0two \"q\"\0\xc3\xa9t\xc3\xa9\0\0", 17);

TEST_F(StoreTest, EveryTypeSurvivesAFreshParseOfTheFile) {
    const std::string awkward = std::string("a \"quoted\" C:\\path\\ end\\\r\nline two\ttab \xc3\xbc \xe2\x82\xac ") +
                                "\xf0\x9f\x98\x80 bad\xff\xfe byte" + '\0';
    Set("Plain", REG_SZ, std::string("*.exe;*.dll") + '\0');
    Set("Awkward", REG_SZ, awkward);
    Set("", REG_SZ, std::string("default") + '\0');
    Set("Empty", REG_SZ, std::string(1, '\0'));
    Set("Expand", REG_EXPAND_SZ, std::string("%HOME%\\x") + '\0');
    Set("Multi", REG_MULTI_SZ, kMulti);
    Set("Dword", REG_DWORD, std::string("\x2a\0\0\x80", 4));
    Set("Big", REG_DWORD_BIG_ENDIAN, std::string("\0\0\1\2", 4));
    Set("Qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x08", 8));
    std::string blob;
    for (int i = 0; i < 300; ++i) blob += static_cast<char>(i);
    Set("Blob", REG_BINARY, blob);
    Set("Odd \"name\" \\ \xc3\xa4", 0x1234, "xyz");

    const std::string file = ReadFile(StorePath());
    EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
    EXPECT_EQ(file.find("\n\n"), std::string::npos) << "every line ends in CR LF";
    EXPECT_NE(file.find("\"Plain\"=\"*.exe;*.dll\"\r\n"), std::string::npos);
    EXPECT_NE(file.find("@=\"default\"\r\n"), std::string::npos);
    EXPECT_NE(file.find("\"Dword\"=dword:8000002a\r\n"), std::string::npos);
    EXPECT_NE(file.find("\"Awkward\"=hex(1):"), std::string::npos) << "line breaks cannot be quoted";
    EXPECT_NE(file.find("\"Expand\"=hex(2):25,00,48,00"), std::string::npos);
    EXPECT_NE(file.find("\"Odd \\\"name\\\" \\\\ \xc3\xa4\"=hex(1234):78,79,7a"), std::string::npos);
    for (std::size_t p = 0, q; (q = file.find("\r\n", p)) != std::string::npos; p = q + 2)
        EXPECT_LE(q - p, 80u) << "long hex data is wrapped";

    RegHive parsed;
    std::string why;
    ASSERT_TRUE(ParseRegFile(file, HKEY_LOCAL_MACHINE, parsed, &why)) << why;
    EXPECT_EQ(FormatRegFile(parsed, HKEY_LOCAL_MACHINE), file);
    // The copy in memory is dropped when the file changes identity.
    fs::copy_file(StorePath(), fs::path(dir_) / "copy");
    fs::rename(fs::path(dir_) / "copy", StorePath());
    EXPECT_EQ(Get("Awkward"), std::make_pair(REG_SZ + 0u, awkward));
    EXPECT_EQ(Get("Multi"), std::make_pair(REG_MULTI_SZ + 0u, kMulti));
    EXPECT_EQ(Get("Empty").second, std::string(1, '\0'));
    EXPECT_EQ(Get("Blob").second, blob);
    EXPECT_EQ(Get("ODD \"NAME\" \\ \xc3\x84").first, 0x1234u) << "names compare without case, also beyond ASCII";
    EXPECT_EQ(Get("").second, std::string("default") + '\0');
}

TEST_F(StoreTest, KeysAndValuesKeepTheirOrderAndCase) {
    Set("Zeta", REG_SZ, std::string("1") + '\0');
    Set("alpha", REG_SZ, std::string("2") + '\0');
    Set("ZETA", REG_SZ, std::string("3") + '\0');  // same value, first spelling kept
    HKEY h;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\test\\Child", 0, KEY_ALL_ACCESS, &h), 0);
    RegCloseKey(h);
    const std::string file = ReadFile(StorePath());
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"Zeta\"=\"3\"\r\n\"alpha\"=\"2\"\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Test\\Child]"), std::string::npos);
    EXPECT_LT(file.find("[HKEY_LOCAL_MACHINE\\Software]"), file.find("[HKEY_LOCAL_MACHINE\\Software\\Test]"));

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ENUMERATE_SUB_KEYS, &h), 0);
    std::string name;
    EXPECT_EQ(RegEnumKeyA(h, 0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "Test");
    EXPECT_EQ(RegEnumKeyA(h, 1, name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(h);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Test"), ERROR_ACCESS_DENIED) << "has a subkey";
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Test\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\\\Test", 0, KEY_QUERY_VALUE, &h), ERROR_BAD_PATHNAME);
}

TEST_F(StoreTest, ReadsExportsOfBothFormats) {
    fs::copy_file(fs::path(REGISTRY_TEST_DATA) / "export-unicode.reg", StorePath());
    setenv("WINDIR", "C:\\Windows", 1);
    registry::cRegistry reg;
    reg.ClassKey(static_cast<std::int32_t>(HKEY_LOCAL_MACHINE));
    reg.SectionKey("Software\\Brackwater\\Loomvale");
    reg.ValueKey("Mask");
    EXPECT_EQ(reg.Value(), registry::Variant("*.exe;*.dll"));
    reg.ValueKey("Folder");
    EXPECT_EQ(reg.Value(), registry::Variant("C:\\Windows\\Sys"));
    EXPECT_EQ(reg.ValueType(), REG_EXPAND_SZ + 0);
    reg.ValueKey("");
    EXPECT_EQ(reg.Value(), registry::Variant("Gr\xc3\xbc\xc3\x9f" "e \"quoted\" C:\\dir"));
    reg.ValueKey("List");
    EXPECT_EQ(reg.Value(), registry::Variant(std::string("a\0bc\0", 5)));
    reg.ValueKey("Big");
    EXPECT_EQ(reg.Value(), registry::Variant(std::int32_t{258}));
    reg.ValueKey("Q");
    EXPECT_EQ(reg.Value(), registry::Variant(registry::ByteArray{1, 0, 0, 0, 0, 0, 0, 0}));
    reg.SectionKey("Software\\Brackwater\\Loomvale\\Sub");
    reg.ValueKey("Bin");
    EXPECT_EQ(reg.Value(), registry::Variant(registry::ByteArray{0xde, 0xad, 0xbe, 0xef}));

    fs::copy_file(fs::path(REGISTRY_TEST_DATA) / "export-regedit4.reg", StorePath(),
                  fs::copy_options::overwrite_existing);
    setenv("TEMP", "/tmp/t", 1);
    reg.SectionKey("Software\\Brackwater\\Loomvale");
    reg.ValueKey("caf\xc3\xa9");
    EXPECT_EQ(reg.Value(), registry::Variant("na\xc3\xafve")) << "ANSI text becomes UTF-8";
    reg.ValueKey("Folder");
    EXPECT_EQ(reg.Value(), registry::Variant("/tmp/t"));
    reg.ValueKey("List");
    EXPECT_EQ(reg.Value(), registry::Variant(std::string("x\0y\0", 4)));
    reg.ValueKey("SearchSystem");
    EXPECT_EQ(reg.Value(), registry::Variant(std::int32_t{0}));
    // A change rewrites the file in the current format.
    reg.ValueKey("Mask");
    reg.ValueType(REG_SZ);
    reg.Value(registry::Variant("*.ocx"));
    EXPECT_EQ(ReadFile(StorePath()).rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    reg.ValueKey("Folder");
    EXPECT_EQ(reg.Value(), registry::Variant("/tmp/t"));
}

TEST_F(StoreTest, DamagedStoresAreSetAsideNeverOverwritten) {
    const char* bad[] = {"not a registry file\r\n", "REGEDIT4\r\n\"v\"=\"outside a key\"\r\n",
                         "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:123456789\r\n",
                         "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex:1,zz\r\n", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X\r\n",
                         "\xff\xfe\x41"};
    for (const char* text : bad) {
        RegHive h;
        EXPECT_FALSE(ParseRegFile(text, HKEY_LOCAL_MACHINE, h)) << text;
    }
    std::ofstream(StorePath(), std::ios::binary) << "garbage one";
    EXPECT_EQ(Get("Plain").first, 99u) << "reads as empty";
    EXPECT_EQ(ReadFile(fs::path(dir_) / "HKEY_LOCAL_MACHINE.reg.corrupt"), "garbage one");
    EXPECT_FALSE(fs::exists(StorePath()));
    std::ofstream(StorePath(), std::ios::binary) << "garbage two";
    Set("Plain", REG_SZ, std::string("x") + '\0');
    EXPECT_EQ(ReadFile(fs::path(dir_) / "HKEY_LOCAL_MACHINE.reg.corrupt"), "garbage one");
    EXPECT_EQ(ReadFile(fs::path(dir_) / "HKEY_LOCAL_MACHINE.reg.corrupt.1"), "garbage two");
    EXPECT_EQ(Get("Plain").second, std::string("x") + '\0');
}

TEST_F(StoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 60;
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        ASSERT_GE(kids[k], 0);
        if (kids[k] == 0) {
            for (int i = 0; i < kEach; ++i) {
                HKEY h;
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_ALL_ACCESS, &h)) _exit(2);
                const std::string v = std::to_string(i);
                if (RegSetValueExA(h, "p" + std::to_string(k) + "_" + v, REG_SZ,
                                   reinterpret_cast<const std::uint8_t*>(v.c_str()), v.size() + 1))
                    _exit(3);
                RegCloseKey(h);
            }
            _exit(0);
        }
    }
    for (pid_t kid : kids) {
        int status = 0;
        waitpid(kid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    registry::cRegistry reg;
    reg.ClassKey(static_cast<std::int32_t>(HKEY_LOCAL_MACHINE));
    reg.SectionKey("Software\\Test");
    std::vector<std::string> names;
    std::int32_t count = 0;
    reg.EnumerateValues(names, count);
    EXPECT_EQ(count, 2 * kEach);
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(Get("p" + std::to_string(k) + "_" + std::to_string(i)).second, std::to_string(i) + '\0');
}

TEST_F(StoreTest, ACrashBeforeTheRenameLeavesTheOldStore) {
    Set("Keep", REG_SZ, std::string("old") + '\0');
    const std::string before = ReadFile(StorePath());
    const pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
        SetRegistryFaultHook([](RegWriteStep step) {
            if (step == RegWriteStep::Rename) _exit(7);  // dies with the new file written and synced
            return 0;
        });
        Set("Keep", REG_SZ, std::string("new") + '\0');
        _exit(0);
    }
    int status = 0;
    waitpid(kid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(ReadFile(StorePath()), before);
    int temps = 0;
    for (auto& e : fs::directory_iterator(dir_)) temps += e.path().filename().string().find(".tmp.") != std::string::npos;
    EXPECT_EQ(temps, 1);
    Set("Other", REG_SZ, std::string("x") + '\0');
    for (auto& e : fs::directory_iterator(dir_)) EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos);
    EXPECT_EQ(Get("Keep").second, std::string("old") + '\0');
}

TEST_F(StoreTest, FailedWritesReportAndKeepTheStore) {
    Set("Keep", REG_SZ, std::string("old") + '\0');
    const std::string before = ReadFile(StorePath());
    for (RegWriteStep step : {RegWriteStep::WriteTemp, RegWriteStep::Sync, RegWriteStep::Rename}) {
        SetRegistryFaultHook([step](RegWriteStep s) { return s == step ? ENOSPC : 0; });
        registry::cRegistry reg;
        reg.ClassKey(static_cast<std::int32_t>(HKEY_LOCAL_MACHINE));
        reg.SectionKey("Software\\Test");
        reg.ValueKey("Keep");
        reg.ValueType(REG_SZ);
        try {
            reg.Value(registry::Variant("new"));
            ADD_FAILURE() << "write reported as success";
        } catch (const registry::RegistryError& e) {
            EXPECT_EQ(e.Number, static_cast<std::int32_t>(0x800469A9u));
            EXPECT_EQ(e.Description, "Failed to set registry value Key: '-2147483646',Section: 'Software\\Test',"
                                     "Key: 'Keep' to value: 'new'");
        }
        EXPECT_EQ(ReadFile(StorePath()), before);
    }
}

TEST_F(StoreTest, AFolderThatMayNotBeWrittenGivesError26001) {
    // A path through a regular file fails even for root.
    std::ofstream(fs::path(dir_) / "file") << "x";
    setenv("LOOMVALE_REGISTRY", (dir_ + "/file/sub").c_str(), 1);
    registry::cRegistry reg;
    reg.ClassKey(static_cast<std::int32_t>(HKEY_LOCAL_MACHINE));
    reg.SectionKey("Software\\Brackwater\\Loomvale");
    try {
        reg.CreateKey();
        ADD_FAILURE();
    } catch (const registry::RegistryError& e) {
        EXPECT_EQ(e.Number, 26001);
        EXPECT_EQ(e.Description, "Failed to create registry Key: 'Software\\Brackwater\\Loomvale");
    }
    EXPECT_FALSE(reg.KeyExists());

    // A read-only folder that holds the store: reads work, writes raise.
    const std::string ro = dir_ + "/ro";
    fs::create_directory(ro);
    setenv("LOOMVALE_REGISTRY", ro.c_str(), 1);
    reg.CreateKey();
    reg.ValueKey("Mask");
    reg.ValueType(REG_SZ);
    reg.Value(registry::Variant("*.exe"));
    bool mounted = false;
    if (geteuid() == 0) {
        mounted = mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                  mount(nullptr, ro.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        if (!mounted) {
            umount(ro.c_str());
            GTEST_SKIP() << "root without a read-only bind mount";
        }
    } else {
        fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_TRUE(reg.KeyExists());
    EXPECT_EQ(reg.Value(), registry::Variant("*.exe"));
    reg.SectionKey("Software\\Brackwater\\Other");
    EXPECT_THROW(
        {
            try {
                reg.CreateKey();
            } catch (const registry::RegistryError& e) {
                EXPECT_EQ(e.Number, 26001);
                EXPECT_EQ(e.Description, "Failed to create registry Key: 'Software\\Brackwater\\Other");
                throw;
            }
        },
        registry::RegistryError);
    reg.SectionKey("Software\\Brackwater\\Loomvale");
    try {
        reg.Value(registry::Variant("*.dll"));
        ADD_FAILURE();
    } catch (const registry::RegistryError& e) {
        EXPECT_EQ(e.Number, 26001) << "the key cannot be opened for writing";
    }
    if (mounted) umount(ro.c_str());
    fs::permissions(ro, fs::perms::owner_all);
}

TEST(Environment, ExpandsKnownNamesAndKeepsUnknownOnes) {
    setenv("LV_ONE", "1", 1);
    setenv("LV_Path", "/p", 1);
    unsetenv("LV_NOPE");
    EXPECT_EQ(ExpandEnvironmentStringsA("%LV_ONE%\\x"), "1\\x");
    EXPECT_EQ(ExpandEnvironmentStringsA("a%LV_NOPE%b"), "a%LV_NOPE%b");
    EXPECT_EQ(ExpandEnvironmentStringsA("%lv_path%/%LV_ONE%"), "/p/1") << "case does not matter";
    EXPECT_EQ(ExpandEnvironmentStringsA("100%"), "100%");
    EXPECT_EQ(ExpandEnvironmentStringsA("%%"), "%%");
    EXPECT_EQ(ExpandEnvironmentStringsA("%LV_NOPE%LV_ONE%"), "%LV_NOPE1");
    EXPECT_EQ(ExpandEnvironmentStringsA(""), "");
}

TEST(Environment, SystemFolderIsTheWinePrefixsSystem32) {
    char tmpl[] = "/tmp/loomvale-wine-XXXXXX";
    const std::string prefix = mkdtemp(tmpl);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    EXPECT_EQ(GetSystemDirectoryA(), "");
    fs::create_directories(prefix + "/drive_c/windows/system32");
    EXPECT_EQ(GetSystemDirectoryA(), prefix + "/drive_c/windows/system32");
    unsetenv("WINEPREFIX");
    const char* home = getenv("HOME");
    const std::string saved = home ? home : "";
    setenv("HOME", prefix.c_str(), 1);
    EXPECT_EQ(GetSystemDirectoryA(), "");
    fs::create_directories(prefix + "/.wine/drive_c/windows/system32");
    EXPECT_EQ(GetSystemDirectoryA(), prefix + "/.wine/drive_c/windows/system32");
    setenv("HOME", saved.c_str(), 1);
    fs::remove_all(prefix);
}

}  // namespace
