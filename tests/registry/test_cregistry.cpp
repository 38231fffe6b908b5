// The registry class: reads and writes by type, errors, listing, associations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/RegistryStore.h"
#include "registry/cRegistry.h"

namespace fs = std::filesystem;
using registry::ByteArray;
using registry::cRegistry;
using registry::RegistryError;
using registry::Variant;

namespace {

class RegistryClass : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loomvale-creg-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("LOOMVALE_REGISTRY", dir_.c_str(), 1);
        reg_.ClassKey(static_cast<std::int32_t>(platform::HKEY_LOCAL_MACHINE));
        reg_.SectionKey("Software\\Brackwater\\Loomvale");
    }
    void TearDown() override { fs::remove_all(dir_); }
    Variant Write(const std::string& name, std::int32_t type, const Variant& v) {
        reg_.ValueKey(name);
        reg_.ValueType(type);
        reg_.Value(v);
        reg_.ValueType(0);
        return reg_.Value();
    }
    template <class F>
    static RegistryError Raised(F f) {
        try {
            f();
        } catch (const RegistryError& e) {
            return e;
        }
        ADD_FAILURE() << "nothing raised";
        return RegistryError(0, "");
    }
    std::string dir_;
    cRegistry reg_;
};

TEST_F(RegistryClass, ReadsBackWhatItWritesWithTheTypeFound) {
    EXPECT_FALSE(reg_.KeyExists());
    EXPECT_TRUE(reg_.CreateKey());
    EXPECT_TRUE(reg_.KeyExists());
    EXPECT_EQ(Write("Mask", platform::REG_SZ, Variant("*.exe;*.dll")), Variant("*.exe;*.dll"));
    EXPECT_EQ(reg_.ValueType(), platform::REG_SZ + 0);
    EXPECT_EQ(Write("Priority", platform::REG_DWORD, Variant(std::int16_t{3})), Variant(std::int32_t{3}));
    EXPECT_EQ(Write("Neg", platform::REG_DWORD_BIG_ENDIAN, Variant(std::int32_t{-1})), Variant(std::int32_t{-1}));
    EXPECT_EQ(reg_.ValueType(), platform::REG_DWORD + 0) << "written little-endian as REG_DWORD";
    EXPECT_EQ(Write("Bin", platform::REG_BINARY, Variant(ByteArray{0, 1, 255})), Variant(ByteArray{0, 1, 255}));
    EXPECT_EQ(Write("Nothing", platform::REG_BINARY, Variant(ByteArray{})), Variant(ByteArray{}));
    EXPECT_EQ(Write("Empty", platform::REG_SZ, Variant()), Variant(""));
    EXPECT_EQ(Write("Number as text", platform::REG_SZ, Variant(std::int32_t{42})), Variant("42"));

    // Types the class never writes, as another tool would store them.
    platform::HKEY h;
    ASSERT_EQ(platform::RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, reg_.SectionKey(), 0, platform::KEY_ALL_ACCESS, &h), 0);
    const std::uint8_t big[] = {0, 0, 1, 2}, multi[] = {'a', 0, 'b', 0, 0}, qword[] = {1, 2, 3, 4, 5, 6, 7, 8};
    platform::RegSetValueExA(h, "Big", platform::REG_DWORD_BIG_ENDIAN, big, 4);
    platform::RegSetValueExA(h, "Multi", platform::REG_MULTI_SZ, multi, 5);
    platform::RegSetValueExA(h, "Q", platform::REG_QWORD, qword, 8);
    platform::RegSetValueExA(h, "Short", platform::REG_DWORD, big, 2);
    platform::RegCloseKey(h);
    reg_.ValueKey("Big");
    EXPECT_EQ(reg_.Value(), Variant(std::int32_t{258}));
    reg_.ValueKey("Multi");
    EXPECT_EQ(reg_.Value(), Variant(std::string("a\0b\0", 4)));
    reg_.ValueKey("Q");
    EXPECT_EQ(reg_.Value(), Variant(ByteArray(qword, qword + 8)));
    EXPECT_EQ(reg_.ValueType(), platform::REG_QWORD + 0);
    reg_.ValueKey("Short");
    EXPECT_EQ(reg_.Value(), Variant(ByteArray{0, 0})) << "a number of the wrong size comes back as bytes";
}

TEST_F(RegistryClass, MissingValuesGiveDefaultAndLeaveTheType) {
    reg_.ValueKey("Nope");
    reg_.ValueType(7);
    EXPECT_TRUE(reg_.Value().IsEmpty());
    reg_.Default(Variant("fallback"));
    EXPECT_EQ(reg_.Value(), Variant("fallback"));
    reg_.CreateKey();
    EXPECT_EQ(reg_.Value(), Variant("fallback"));
    EXPECT_EQ(reg_.ValueType(), 7);
}

TEST_F(RegistryClass, PercentReferencesAreStoredExpandableAndExpandedOnRead) {
    setenv("TEMP", "/var/tmp", 1);
    EXPECT_EQ(Write("T", platform::REG_SZ, Variant("%TEMP%\\x")), Variant("/var/tmp\\x"));
    EXPECT_EQ(reg_.ValueType(), platform::REG_EXPAND_SZ + 0);
    EXPECT_EQ(Write("Pct", platform::REG_EXPAND_SZ, Variant("100%% done")), Variant("100%% done"));
    EXPECT_EQ(reg_.ValueType(), platform::REG_SZ + 0) << "two '%' side by side do not count";
    EXPECT_EQ(Write("Unknown", platform::REG_SZ, Variant("%LV_NOT_SET_ANYWHERE%")), Variant("%LV_NOT_SET_ANYWHERE%"));
    EXPECT_EQ(reg_.ValueType(), platform::REG_EXPAND_SZ + 0);
    EXPECT_TRUE(registry::HasEnvironmentReference("%a%"));
    EXPECT_FALSE(registry::HasEnvironmentReference("a%%"));
    EXPECT_FALSE(registry::HasEnvironmentReference("%"));
}

TEST_F(RegistryClass, WritesThatCannotBeDone) {
    reg_.ValueKey("B");
    reg_.ValueType(platform::REG_DWORD);
    reg_.Value(Variant(true));  // Booleans are not numbers here: nothing written
    reg_.ValueType(0);
    EXPECT_TRUE(reg_.Value().IsEmpty());
    reg_.ValueType(platform::REG_BINARY);
    RegistryError e = Raised([&] { reg_.Value(Variant("text")); });
    EXPECT_EQ(e.Number, 26001);
    EXPECT_EQ(e.Description, "");
    EXPECT_EQ(e.Source, std::string(program_invocation_short_name) + ".cRegistry");
    reg_.ValueType(platform::REG_MULTI_SZ);
    e = Raised([&] { reg_.Value(Variant("x")); });
    EXPECT_EQ(e.Number, static_cast<std::int32_t>(0x800469A9u));
    EXPECT_EQ(e.Description,
              "Failed to set registry value Key: '-2147483646',Section: 'Software\\Brackwater\\Loomvale',Key: 'B' to "
              "value: 'x'");
    reg_.ValueKey("Bad\nName");
    reg_.ValueType(platform::REG_SZ);
    EXPECT_EQ(Raised([&] { reg_.Value(Variant("x")); }).Number, static_cast<std::int32_t>(0x800469A9u));
    reg_.ClassKey(12345);
    EXPECT_EQ(Raised([&] { reg_.CreateKey(); }).Number, 26001);
    EXPECT_FALSE(reg_.KeyExists());
}

TEST_F(RegistryClass, DeletingAndListing) {
    EXPECT_EQ(Raised([&] { reg_.DeleteKey(); }).Description,
              "Failed to delete registry Key: '-2147483646',Section: 'Software\\Brackwater\\Loomvale");
    EXPECT_EQ(Raised([&] { reg_.DeleteValue(); }).Description,
              "Failed to open key '-2147483646',Section: 'Software\\Brackwater\\Loomvale' for delete access");
    Write("b", platform::REG_SZ, Variant("1"));
    Write("A", platform::REG_SZ, Variant("2"));
    reg_.ValueKey("missing");
    EXPECT_EQ(Raised([&] { reg_.DeleteValue(); }).Description,
              "Failed to delete registry Key: '-2147483646',Section: 'Software\\Brackwater\\Loomvale',Key: 'missing");
    std::vector<std::string> names{"stale"};
    std::int32_t count = -1;
    EXPECT_TRUE(reg_.EnumerateValues(names, count));
    EXPECT_EQ(names, (std::vector<std::string>{"b", "A"}));
    EXPECT_EQ(count, 2);
    reg_.ValueKey("B");
    EXPECT_TRUE(reg_.DeleteValue());
    reg_.EnumerateValues(names, count);
    EXPECT_EQ(names, std::vector<std::string>{"A"});

    cRegistry top;
    top.ClassKey(static_cast<std::int32_t>(platform::HKEY_LOCAL_MACHINE));
    top.SectionKey("Software\\Brackwater");
    EXPECT_TRUE(top.EnumerateSections(names, count));
    EXPECT_EQ(names, std::vector<std::string>{"Loomvale"});
    top.SectionKey("Software\\Nowhere");
    EXPECT_TRUE(top.EnumerateSections(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(top.EnumerateValues(names, count));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(reg_.DeleteKey());
    EXPECT_FALSE(reg_.KeyExists());
}

TEST_F(RegistryClass, AssociationsRegisterTheFileType) {
    cRegistry r;
    r.CreateEXEAssociation("  /opt/lv/viewer ", "Lv.Doc", "Loomvale document", "lvd", "", true, "", false, "", true,
                           "", 2);
    auto get = [](const std::string& key) {
        cRegistry q;
        q.ClassKey(static_cast<std::int32_t>(platform::HKEY_CLASSES_ROOT));
        q.SectionKey(key);
        q.Default(Variant("<none>"));
        return q.Value();
    };
    EXPECT_EQ(get(".lvd"), Variant("Lv.Doc"));
    EXPECT_EQ(get("Lv.Doc"), Variant("Loomvale document"));
    EXPECT_EQ(get("Lv.Doc\\shell\\open"), Variant("&Open"));
    EXPECT_EQ(get("Lv.Doc\\shell\\open\\command"), Variant("\"/opt/lv/viewer\" \"%1\""));
    EXPECT_EQ(get("Lv.Doc\\shell\\print"), Variant("&Print"));
    EXPECT_EQ(get("Lv.Doc\\shell\\print\\command"), Variant("\"/opt/lv/viewer\" /p \"%1\""));
    EXPECT_EQ(get("Lv.Doc\\shell\\add"), Variant("&Install lvd"));
    EXPECT_EQ(get("Lv.Doc\\shell\\add\\command"), Variant("\"/opt/lv/viewer\" /a \"%1\""));
    EXPECT_EQ(get("Lv.Doc\\shell\\new"), Variant("<none>"));
    EXPECT_EQ(get("Lv.Doc\\DefaultIcon"), Variant("\"/opt/lv/viewer\",2"));

    EXPECT_EQ(Raised([&] { r.CreateAdditionalEXEAssociations("Lv.Doc", {Variant("a"), Variant("b")}); }).Number,
              static_cast<std::int32_t>(0x800469ACu));
    EXPECT_EQ(Raised([&] { r.CreateAdditionalEXEAssociations("Lv.Doc", {}); }).Description,
              "Invalid parameter list passed to CreateAdditionalEXEAssociations - expected Name/Text/Command");
    EXPECT_EQ(Raised([&] {
                  r.CreateAdditionalEXEAssociations("No.Class", {Variant("x"), Variant("y"), Variant("z")});
              }).Description,
              "Error - attempt to create additional associations before class defined.");
    r.CreateAdditionalEXEAssociations("Lv.Doc", {Variant("edit"), Variant("&Edit"), Variant("ed \"%1\"")});
    EXPECT_EQ(get("Lv.Doc\\shell\\edit"), Variant("&Edit"));
    EXPECT_EQ(get("Lv.Doc\\shell\\edit\\command"), Variant("ed \"%1\""));
}

TEST(VariantConversions, IntoFieldKinds) {
    EXPECT_EQ(Variant().ToBool(), false);
    EXPECT_EQ(Variant(std::int32_t{1}).ToBool(), true);
    EXPECT_EQ(Variant("true").ToBool(), true);
    EXPECT_EQ(Variant("yes").ToBool(), std::nullopt);
    EXPECT_EQ(Variant(std::int32_t{70000}).ToInt16(), std::nullopt);
    EXPECT_EQ(Variant(" 5 ").ToInt16(), std::int16_t{5});
    EXPECT_EQ(Variant(ByteArray{1}).ToInt32(), std::nullopt);
    EXPECT_EQ(Variant(true).ToText(), "True");
}

}  // namespace
