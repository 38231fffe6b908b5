// The registry class over the settings store: values and their types,
// errors raised, keys and file associations.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cstdlib>
#include <filesystem>

#include "platform/store/RegistryStore.h"
#include "registry/cRegistry.h"
#include "tests/support/StoreFixture.h"

namespace fs = std::filesystem;
using namespace platform;
using registry::Variant;

namespace {

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
