// Whole scans: output names, index lines, selection, write failures and the
// disk-full dialog, and the batch command end to end.
#include <sys/mount.h>

#include "TestUtil.h"

using namespace t;

namespace {

class RunTest : public EngineTest {};

TEST_F(RunTest, NamesAndIndexLinesAcrossRuns) {
    const std::string mod = Module("a.exe", {R(2, 130, Dib(2, 2, 24)), R(2, 131, Dib(2, 2, 24)), R(2, "LOGO", Dib(2, 2, 24))});
    Run(mod, AllKinds());
    // The same destination again, once with a trailing slash.
    Run(mod, AllKinds(), dest.string() + "/");
    EXPECT_EQ(Files("Bitmaps"), (std::vector<std::string>{"__index.txt", "a.exe (2).bmp", "a.exe (3).bmp",
                                                           "a.exe (4).bmp", "a.exe (5).bmp", "a.exe (6).bmp",
                                                           "a.exe.bmp"}));
    // Directory order: string names before IDs.
    std::string want;
    const char* names[] = {"LOGO", "130", "131"};
    for (int i = 0; i < 6; ++i)
        want += (i ? "a.exe (" + std::to_string(i + 1) + ").bmp" : std::string("a.exe.bmp")) + " - SOURCE FILE = " +
                mod + " RESOURCE TYPE = 2 RESOURCE NAME = " + names[i % 3] + "\r\n";
    EXPECT_EQ(ReadText(dest / "Bitmaps/__index.txt"), want);
    ASSERT_EQ(owner.found.size(), 6u);
    EXPECT_EQ(owner.found[1].kind, engine::RES_BITMAP);
    EXPECT_EQ(std::get<std::string>(owner.found[0].name), "LOGO");
    EXPECT_EQ(std::get<int32_t>(owner.found[1].name), 130);
}

TEST_F(RunTest, TakenNamesAreSkippedNeverOverwritten) {
    fs::create_directory(dest / "Icons/a.exe.ico");             // a folder named like the first candidate
    { std::ofstream(dest / "Icons/a.exe (2).ico") << "keep"; }  // and a file from elsewhere
    fs::create_symlink("/nonexistent", dest / "Icons/a.exe (3).ico");  // a dangling link
    const Bytes img = IconImage(16, 16);
    const std::string mod = Module("a.exe", {R(14, 1, IconGroup({{16, 16, 0, 1, 32, uint32_t(img.size()), 5}})), R(3, 5, img)});
    Run(mod, AllKinds());
    EXPECT_EQ(ReadText(dest / "Icons/a.exe (2).ico"), "keep");
    EXPECT_TRUE(fs::is_regular_file(dest / "Icons/a.exe (4).ico"));
}

TEST_F(RunTest, NameTakenBetweenChoiceAndCreateGoesToTheNextName) {
    const std::string mod = Module("a.exe", {R(21, 1, Bytes{1, 2, 3})});
    // Someone else creates the chosen file just before we do.
    platform::SetFileFaultHook([&](platform::FileOp op, const std::string& p) {
        if (op == platform::FileOp::Create && p.ends_with("a.exe.ani") && !fs::exists(p))
            std::ofstream(p) << "theirs";
        return platform::FaultDecision{};
    });
    EXPECT_FALSE(Run(mod, AllKinds()));
    EXPECT_EQ(ReadText(dest / "Animated Cursors/a.exe.ani"), "theirs");
    EXPECT_EQ(ReadFile(dest / "Animated Cursors/a.exe (2).ani"), (Bytes{1, 2, 3}));
    EXPECT_NE(ReadText(dest / "Animated Cursors/__index.txt").find("a.exe (2).ani - "), std::string::npos);
    EXPECT_TRUE(box.prompts.empty());
}

TEST_F(RunTest, WebPageNames) {
    const std::string mod = Module("a.exe", {R(23, "ABOUT.HTM", {1}), R(23, "ABOUT.HTM2", {1}), R(23, "INDEX", {1}),
                                   R(23, "READ. ME", {1}), R(23, "IMG/LOGO.GIF", {1}), R(23, 101, {1}),
                                   R(23, "a\tb:c", {1})});
    { std::ofstream(dest / "Web pages/a.exe - INDEX") << "old"; }
    Run(mod, Only(engine::RES_HTML));
    Run(mod, Only(engine::RES_HTML));
    const auto files = Files("Web pages");
    for (const char* want : {"a.exe - ABOUT.HTM", "a.exe - ABOUT (2).HTM", "a.exe - ABOUT.HTM2", "a.exe - INDEX (2)",
                             "a.exe - INDEX (3)", "a.exe - READ. ME", "a.exe - READ. ME (2)", "a.exe - IMG_LOGO.GIF",
                             "a.exe - 101", "a.exe - a_b_c"})
        EXPECT_NE(std::find(files.begin(), files.end(), want), files.end()) << want;
    // The index keeps the name as enumerated; control characters cannot
    // split it into lines.
    const std::string index = ReadText(dest / "Web pages/__index.txt");
    EXPECT_NE(index.find("a.exe - IMG_LOGO.GIF - SOURCE FILE = " + mod + " RESOURCE TYPE = 23 RESOURCE NAME = IMG/LOGO.GIF\r\n"),
              std::string::npos);
    EXPECT_NE(index.find("RESOURCE NAME = a_b:c\r\n"), std::string::npos);
}

TEST_F(RunTest, LongNamesAreCutToFit) {
    const std::string longName(400, 'x');
    const std::string mod = Module("a.exe", {R(23, longName + ".htm", {1}), R(23, longName + ".htm", {1})});
    Run(mod, Only(engine::RES_HTML));
    Run(mod, Only(engine::RES_HTML));
    auto files = Files("Web pages");
    ASSERT_EQ(files.size(), 3u);  // two files and the index
    for (const auto& f : files) EXPECT_LE(f.size(), 255u);
    EXPECT_TRUE(files[1].ends_with(" (2).htm") || files[0].ends_with(" (2).htm"));
}

TEST_F(RunTest, DigitNamesAreIntegerIds) {
    const std::string mod = Module("a.exe", {R(2, "123", Dib(2, 2, 24)), R(2, 123, Dib(3, 3, 24))});
    // The string name "123" is looked up as the integer ID 123, so both
    // enumerated names give the integer ID's bitmap.
    Run(mod, AllKinds());
    EXPECT_EQ(ReadFile(dest / "Bitmaps/a.exe.bmp"), ReadFile(dest / "Bitmaps/a.exe (2).bmp"));
    EXPECT_EQ(G32(ReadFile(dest / "Bitmaps/a.exe.bmp"), 18), 3u);
}

TEST_F(RunTest, OnlySelectedKindsAreEnumerated) {
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(14, 1, {0}), R(12, 1, {0}), R(23, 1, {1}),
                                   R("avi", 1, {1}),
                                   R(6, 1, {1}), R(21, 1, {1})});
    Run(mod, Only(engine::RES_ANICURSOR));
    // Unselected kinds are not even enumerated: no index lines either.
    for (const auto& k : engine::kKinds)
        EXPECT_EQ(Files(k.folder).size(), k.typeText == std::string("21") ? 2u : 0u) << k.folder;
    const std::string b = Module("b.exe", {R("avi", 1, {1})});
    EXPECT_FALSE(Run(b, AllKinds()));
    EXPECT_EQ(Files("Videos"), std::vector<std::string>{});
    EXPECT_FALSE(Run((root / "apps/missing.exe").string(), AllKinds()));
    EXPECT_FALSE(Run("/bin/sh", AllKinds()));
}

// ---- Write failures ------------------------------------------------------------

// Makes the n-th write (counted from 1) fail with err.
platform::FileFaultHook FailWrite(int n, int err, platform::FileOp which = platform::FileOp::Write) {
    auto count = std::make_shared<int>(0);
    return [=](platform::FileOp op, const std::string&) {
        if (op == which && ++*count == n) return platform::FaultDecision{err};
        return platform::FaultDecision{};
    };
}

TEST_F(RunTest, DiskFullRetryThenCancelEndsOnlyThisFile) {
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(2, 2, Dib(2, 2, 24))});
    const std::string b = Module("b.exe", {R(2, 1, Dib(2, 2, 24))});
    // Each of the first two attempts gets ten bytes out, then the disk is full.
    platform::SetFileFaultHook([n = 0](platform::FileOp op, const std::string&) mutable {
        if (op != platform::FileOp::Write || n >= 4) return platform::FaultDecision{};
        return ++n % 2 ? platform::FaultDecision{0, 10} : platform::FaultDecision{ENOSPC};
    });
    box.answers = {platform::MsgResult::Retry, platform::MsgResult::Cancel};
    std::vector<std::vector<std::string>> seen;  // the folder while each box is up
    box.onShow = [&] { seen.push_back(Files("Bitmaps")); };
    EXPECT_TRUE(Run(mod, AllKinds()));
    ASSERT_EQ(box.prompts.size(), 2u);
    EXPECT_EQ(seen, (std::vector<std::vector<std::string>>(2)));
    EXPECT_EQ(box.prompts[0], "The drive is full.\r\nPlease free some space on the drive.");
    EXPECT_EQ(box.buttons[0], platform::MsgButtons::RetryCancel);
    EXPECT_EQ(engine::State().LastError, 61);
    // The partial file is gone, the second bitmap was never tried.
    EXPECT_EQ(Files("Bitmaps"), std::vector<std::string>{});
    EXPECT_TRUE(owner.found.empty());
    // The next program file starts afresh.
    EXPECT_FALSE(Run(b, AllKinds()));
    EXPECT_EQ(Files("Bitmaps"), (std::vector<std::string>{"__index.txt", "b.exe.bmp"}));
    EXPECT_EQ(owner.found.size(), 1u);
}

TEST_F(RunTest, DiskFullRetryWritesTheSamePath) {
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24))});
    platform::SetFileFaultHook(FailWrite(1, ENOSPC));
    box.answers = {platform::MsgResult::Retry};
    EXPECT_FALSE(Run(mod, AllKinds()));
    EXPECT_EQ(Files("Bitmaps"), (std::vector<std::string>{"__index.txt", "a.exe.bmp"}));
    EXPECT_EQ(owner.found.size(), 1u);
}

TEST_F(RunTest, OtherErrorsShowTheirDescriptionOnceAndStopTheFile) {
    const std::string mod = Module("a.exe", {R(21, 1, {1}), R(21, 2, {2})});
    for (auto [err, text] : {std::pair{EACCES, "Path/File access error"}, std::pair{EIO, "Device I/O error"}}) {
        box.prompts.clear();
        platform::SetFileFaultHook(FailWrite(1, err));
        EXPECT_TRUE(Run(mod, AllKinds()));
        EXPECT_EQ(box.prompts, std::vector<std::string>{text});
        EXPECT_EQ(box.buttons[0], platform::MsgButtons::OK);
    }
    EXPECT_TRUE(owner.found.empty());
}

TEST_F(RunTest, MissingKindFolderIsPathNotFound) {
    fs::remove_all(dest / "Cursors");
    const Bytes m = CursorMember(32, 32, 1, 1);
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(12, 1, CursorGroup({{32, 64, 1, 1, 308, 1}})), R(1, 1, m), R(2, 2, Dib(2, 2, 24))});
    EXPECT_TRUE(Run(mod, AllKinds()));
    EXPECT_EQ(box.prompts, std::vector<std::string>{"Path not found"});
    EXPECT_EQ(engine::State().LastError, 76);
    // Both bitmaps came first; nothing after the failing cursor.
    EXPECT_EQ(owner.found.size(), 2u);
}

// A refused resource writes nothing, not even an index line, so a missing
// kind folder only shows once something is to be written into it.
TEST_F(RunTest, RefusedResourceLeavesNoIndexLine) {
    fs::remove_all(dest / "Icons");
    const std::string mod = Module("a.exe", {R(14, 1, {0, 0, 1}), R(2, 1, {1, 2})});
    EXPECT_FALSE(Run(mod, AllKinds()));
    EXPECT_TRUE(box.prompts.empty());
    EXPECT_FALSE(fs::exists(dest / "Icons"));
    EXPECT_TRUE(Files("Bitmaps").empty());
}

TEST_F(RunTest, IndexAppendFailureKeepsTheFileAndStops) {
    const std::string mod = Module("a.exe", {R(21, 1, {1}), R(21, 2, {2})});
    platform::SetFileFaultHook(FailWrite(1, ENOSPC, platform::FileOp::Append));
    box.answers = {platform::MsgResult::Cancel};
    EXPECT_TRUE(Run(mod, AllKinds()));
    EXPECT_EQ(box.prompts.size(), 1u);
    EXPECT_EQ(Files("Animated Cursors"), std::vector<std::string>{"a.exe.ani"});
    EXPECT_EQ(owner.found.size(), 1u);
}

TEST_F(RunTest, RealFullDiskOnTmpfs) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    const fs::path mnt = root / "small";
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "mount refused";
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{mnt};
    fs::create_directory(mnt / "Videos");
    const std::string mod = Module("a.exe", {R("AVI", 1, Bytes(200 * 1024, 7))});
    box.answers = {platform::MsgResult::Retry, platform::MsgResult::Cancel};
    std::string path = mod;
    EXPECT_TRUE(engine::ExtractResources(path, AllKinds(), &owner, mnt.string()));
    EXPECT_EQ(box.prompts.size(), 2u);
    EXPECT_FALSE(fs::exists(mnt / "Videos/a.exe.avi"));
    // The next program file is scanned normally.
    const std::string c = Module("c.exe", {R("AVI", 1, Bytes(100, 7))});
    path = c;
    EXPECT_FALSE(engine::ExtractResources(path, AllKinds(), &owner, mnt.string()));
    EXPECT_EQ(fs::file_size(mnt / "Videos/c.exe.avi"), 100u);
    EXPECT_EQ(owner.found.size(), 1u);
    // Read-only remount: access error, nothing written.
    ASSERT_EQ(::mount("tmpfs", mnt.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    const std::string b = Module("b.exe", {R("AVI", 1, Bytes(10, 7))});
    box.prompts.clear();
    path = b;
    EXPECT_TRUE(engine::ExtractResources(path, AllKinds(), &owner, mnt.string()));
    EXPECT_EQ(box.prompts, std::vector<std::string>{"Path/File access error"});
}

// ---- The file layer ----------------------------------------------------------

TEST_F(RunTest, FileIoSurvivesShortWritesAndTakesBackHalfLines) {
    platform::SetFileFaultHook([](platform::FileOp, const std::string&) { return platform::FaultDecision{0, 3}; });
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    bool created = false;
    const std::string p = (root / "f.bin").string();
    EXPECT_EQ(platform::WriteNewFile(p, data, created).number, 0);
    EXPECT_TRUE(created);
    EXPECT_EQ(ReadFile(p), data);
    EXPECT_EQ(platform::WriteNewFile(p, data, created).number, platform::kErrFileAlreadyExists);
    EXPECT_FALSE(created);

    const std::string idx = (root / "i.txt").string();
    platform::SetFileFaultHook({});
    EXPECT_EQ(platform::AppendLine(idx, "one\r\n").number, 0);
    // Second call of Write fails: three bytes went out, they are taken back.
    platform::SetFileFaultHook([n = 0](platform::FileOp op, const std::string&) mutable {
        return platform::FaultDecision{op == platform::FileOp::Write && ++n == 2 ? ENOSPC : 0, 3};
    });
    EXPECT_EQ(platform::AppendLine(idx, "two\r\n").number, 61);
    EXPECT_EQ(ReadText(idx), "one\r\n");
}

// ---- The batch command -------------------------------------------------------

class CliTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (::access(LOOMVALE_CLI_PATH, X_OK) != 0) GTEST_SKIP() << "loomvale-extract not built";
    }
};

TEST_F(CliTest, ExitCodesAndSummary) {
    int rc = -1;
    EXPECT_NE(Shell(std::string(LOOMVALE_CLI_PATH) + " --help", &rc).find("Usage:"), std::string::npos);
    EXPECT_EQ(rc, 0);
    Shell(std::string(LOOMVALE_CLI_PATH) + " --types bogus --dest /tmp x 2>/dev/null", &rc);
    EXPECT_EQ(rc, 2);
    Shell(std::string(LOOMVALE_CLI_PATH) + " --dest /nonexistent/parent/x /bin/ls 2>/dev/null", &rc);
    EXPECT_EQ(rc, 2);

    // A real libwine module when one is installed.
    const char* dll = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/comctl32.dll";
    if (::access(dll, R_OK) != 0) GTEST_SKIP() << "no libwine modules";
    const std::string out = (root / "cli").string();
    const std::string s =
        Shell(std::string(LOOMVALE_CLI_PATH) + " --quiet --types bitmap,icon,cursor --dest " + out + " " + dll + " /bin/ls", &rc);
    EXPECT_EQ(rc, 0) << s;
    EXPECT_EQ(s.find("Bitmap: "), 0u) << s;
    EXPECT_NE(s.find("\nIcon: "), std::string::npos);
    EXPECT_NE(s.find("\nCursor: "), std::string::npos);
    EXPECT_EQ(s.find("Web page"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(out + "/Cursors"));
    EXPECT_FALSE(fs::exists(out + "/Videos"));
    // A read-only kind folder stops the file: exit 1 (root ignores modes, so
    // only checked when they apply).
    if (::geteuid() != 0) {
        fs::permissions(out + "/Bitmaps", fs::perms::owner_read | fs::perms::owner_exec);
        Shell(std::string(LOOMVALE_CLI_PATH) + " --quiet --types bitmap --dest " + out + " " + dll + " 2>/dev/null", &rc);
        EXPECT_EQ(rc, 1);
    }
}

}  // namespace
