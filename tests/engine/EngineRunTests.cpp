// Whole scans: output names, index lines, selection, write failures and the disk-full dialog.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "TestUtil.h"

using namespace t;
using Names = std::vector<std::string>;

namespace {

class RunTest : public EngineTest {};

TEST_F(RunTest, NamesAndIndexLinesAcrossRuns) {
    const std::string mod = Module("a.exe", {R(2, 130, Dib(2, 2, 24)), R(2, 131, Dib(2, 2, 24)), R(2, "LOGO", Dib(2, 2, 24))});
    for (const std::string& d : {dest.string(), dest.string() + "/"}) Run(mod, AllKinds(), d);  // again, trailing slash
    EXPECT_EQ(Files("Bitmaps"), (Names{"__index.txt", "a.exe (2).bmp", "a.exe (3).bmp", "a.exe (4).bmp",
                                       "a.exe (5).bmp", "a.exe (6).bmp", "a.exe.bmp"}));
    // Directory order: string names before IDs.
    std::string want;
    for (int i = 0; i < 6; ++i)
        want += (i ? "a.exe (" + std::to_string(i + 1) + ").bmp" : std::string("a.exe.bmp")) + " - SOURCE FILE = " +
                mod + " RESOURCE TYPE = 2 RESOURCE NAME = " + Names{"LOGO", "130", "131"}[i % 3] + "\r\n";
    EXPECT_EQ(ReadText(dest / "Bitmaps/__index.txt"), want);
    EXPECT_EQ(owner.found[1].kind, engine::RES_BITMAP);
    // Names made of digits stay strings beside the IDs with the same digits;
    // each writes its own bitmap (the width tells which).
    Run(Module("b.exe", {R(2, "123", Dib(2, 2, 24)), R(2, "0123", Dib(4, 4, 24)), R(2, 123, Dib(3, 3, 24)),
                         R(2, "7", Dib(5, 5, 24))}), AllKinds());
    const std::pair<const char*, uint32_t> widths[] = {{"b.exe.bmp", 4}, {"b.exe (2).bmp", 2}, {"b.exe (3).bmp", 5},
                                                       {"b.exe (4).bmp", 3}};
    for (const auto& [file, width] : widths) EXPECT_EQ(G32(ReadFile(dest / "Bitmaps" / file), 18), width) << file;
    EXPECT_EQ(owner.Heard(), (Names{"'LOGO'", "130", "131", "'LOGO'", "130", "131", "'0123'", "'123'", "'7'", "123"}));
}

TEST_F(RunTest, NamesStayTodaysWhateverTheFolderHeld) {
    // The number each name reached is remembered; files removed between
    // runs make their names free again, as a fresh count would find.
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(2, 2, Dib(2, 2, 24))});
    for (int i = 0; i < 2; ++i) Run(mod, AllKinds());
    EXPECT_EQ(Files("Bitmaps"), (Names{"__index.txt", "a.exe (2).bmp", "a.exe (3).bmp", "a.exe (4).bmp", "a.exe.bmp"}));
    ::usleep(20000);  // the folder's time must move past our last write
    for (const char* f : {"a.exe.bmp", "a.exe (3).bmp"}) fs::remove(dest / "Bitmaps" / f);
    { std::ofstream(dest / "Bitmaps/a.exe (5).bmp") << "theirs"; }
    Run(mod, AllKinds());
    Run(Module("a.exe", {R(2, 1, Dib(2, 2, 24))}), AllKinds());
    EXPECT_EQ(Files("Bitmaps"), (Names{"__index.txt", "a.exe (2).bmp", "a.exe (3).bmp", "a.exe (4).bmp",
                                       "a.exe (5).bmp", "a.exe (6).bmp", "a.exe.bmp"}));
    EXPECT_EQ(ReadText(dest / "Bitmaps/a.exe (5).bmp"), "theirs");
}

TEST_F(RunTest, TakenNamesAreSkippedNeverOverwritten) {
    fs::create_directory(dest / "Icons/a.exe.ico");                    // a folder named like the first candidate,
    { std::ofstream(dest / "Icons/a.exe (2).ico") << "keep"; }         // a file from elsewhere
    const Bytes img = IconImage(16, 16);
    // Someone else creates the chosen cursor file just before we do.
    platform::SetFileFaultHook([&](platform::FileOp op, const std::string& p) {
        if (op == platform::FileOp::Create && p.ends_with("a.exe.ani") && !fs::exists(p)) std::ofstream(p) << "theirs";
        return platform::FaultDecision{};
    });
    EXPECT_FALSE(Run(Module("a.exe", {R(14, 1, IconGroup({{16, 16, 0, 1, 32, uint32_t(img.size()), 5}})), R(3, 5, img),
                                      R(21, 1, Bytes{1, 2, 3})}), AllKinds()));
    EXPECT_EQ(ReadText(dest / "Icons/a.exe (2).ico"), "keep");
    EXPECT_TRUE(fs::is_regular_file(dest / "Icons/a.exe (3).ico"));
    EXPECT_EQ(ReadText(dest / "Animated Cursors/a.exe.ani"), "theirs");
    EXPECT_EQ(ReadFile(dest / "Animated Cursors/a.exe (2).ani"), (Bytes{1, 2, 3}));
    EXPECT_NE(ReadText(dest / "Animated Cursors/__index.txt").find("a.exe (2).ani - "), std::string::npos);
    EXPECT_TRUE(box.prompts.empty());
}

TEST_F(RunTest, WebPageNames) {
    const std::string mod = Module("a.exe", {R(23, "ABOUT.HTM", {1}), R(23, "ABOUT.HTM2", {1}), R(23, "INDEX", {1}),
                                             R(23, "READ. ME", {1}), R(23, "IMG/LOGO.GIF", {1}), R(23, 101, {1}),
                                             R(23, "a\tb:c", {1}), R(23, std::string(400, 'x') + ".htm", {1})});
    { std::ofstream(dest / "Web pages/a.exe - INDEX") << "old"; }
    for (int i = 0; i < 2; ++i) Run(mod, Only(engine::RES_HTML));
    const auto files = Files("Web pages");
    for (const char* want : {"a.exe - ABOUT.HTM", "a.exe - ABOUT (2).HTM", "a.exe - ABOUT.HTM2", "a.exe - INDEX (2)",
                             "a.exe - INDEX (3)", "a.exe - READ. ME", "a.exe - READ. ME (2)", "a.exe - IMG_LOGO.GIF",
                             "a.exe - 101", "a.exe - a_b_c"})
        EXPECT_NE(std::find(files.begin(), files.end(), want), files.end()) << want;
    // Long names are cut to fit, keeping the number and extension.
    ASSERT_EQ(files.size(), 18u);
    for (const auto& f : files) EXPECT_LE(f.size(), 255u);
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](auto& f) { return f.ends_with("xx (2).htm"); }), 1);
    // The index keeps the name as enumerated.
    EXPECT_NE(ReadText(dest / "Web pages/__index.txt").find("IMG_LOGO.GIF - SOURCE FILE = " + mod +
                                                            " RESOURCE TYPE = 23 RESOURCE NAME = IMG/LOGO.GIF\r\n"), std::string::npos);
}

TEST_F(RunTest, ControlCharactersNeverSplitAnIndexLine) {
    const std::string name = "evil\nname\x1b[31m\x7f\u0085.exe";
    Run(Module(name, {R(2, "X\r\nY", Dib(2, 2, 24))}), AllKinds());
    const std::string index = ReadText(dest / "Bitmaps/__index.txt");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 1) << index;
    const std::string shown = "evil\u240Aname\u241B[31m\u2421<U+0085>.exe";
    EXPECT_EQ(index, shown + ".bmp - SOURCE FILE = " + (root / "apps").string() + "/" + shown +
                         " RESOURCE TYPE = 2 RESOURCE NAME = X\u240D\u240AY\r\n");
    EXPECT_TRUE(fs::exists(dest / "Bitmaps" / (name + ".bmp")));  // the file keeps its name
}

TEST_F(RunTest, DestinationsThatAreNotFilesAreNeverWrittenThrough) {
    // Each case: a fresh destination, something odd at the bitmap's name or
    // at the index, one bitmap to write. No hang, nothing written through,
    // the access error box, the scan of the file stopped.
    const fs::path outside = root / "outside.txt";
    const std::pair<const char*, std::function<void(const fs::path&)>> odd[] = {
        {"link to a file", [&](const fs::path& p) { fs::create_symlink(outside, p); }},
        {"dangling link", [&](const fs::path& p) { fs::create_symlink(root / "gone", p); }},
        {"pipe", [](const fs::path& p) { ::mkfifo(p.c_str(), 0666); }},
        {"device", [](const fs::path& p) { ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)); }},
    };
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(2, 2, Dib(2, 2, 24))});
    int i = 0;
    for (const bool atIndex : {false, true})
        for (const auto& [what, make] : odd) {
            SCOPED_TRACE(std::string(what) + (atIndex ? " as the index" : " at the name"));
            const fs::path d = root / ("d" + std::to_string(i++)), at = d / "Bitmaps" / (atIndex ? "__index.txt" : "a.exe.bmp");
            fs::create_directories(d / "Bitmaps");
            { std::ofstream(outside) << "keep"; }
            make(at);
            if (!fs::exists(fs::symlink_status(at))) {
                if (::geteuid() == 0 || what != std::string("device")) ADD_FAILURE() << "not made";  // only root makes devices
                continue;
            }
            box.prompts.clear(), owner.found.clear();
            EXPECT_TRUE(Run(mod, AllKinds(), d.string()));
            EXPECT_EQ(box.prompts, Names{"Path/File access error: " + at.string()});
            EXPECT_EQ(ReadText(outside), "keep");
            EXPECT_FALSE(fs::exists(root / "gone"));
            // A file that could not be listed is taken away again.
            EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(d / "Bitmaps/a.exe.bmp")));
            EXPECT_FALSE(fs::exists(d / "Bitmaps/a.exe (2).bmp"));
            EXPECT_TRUE(owner.found.empty());
        }
}

// Only "no such file" makes a name free: any other answer while looking for
// one is the resource's write error, said once with the path, and the next
// program file goes on. (Before, each such name counted as taken: an
// endless search.)
TEST_F(RunTest, NameSearchEndsWhenANameCannotBeLookedAt) {
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(21, 1, {1})});
    const std::string longName(300, 'x');
    const struct {
        const char* what;
        std::function<std::string()> dest;  // makes the destination, gives its text
        std::string prompt;                  // the message, before the path
    } rows[] = {
        {"a file where the kind's folder goes",
         [&] {
             fs::remove_all(dest / "Bitmaps");
             std::ofstream(dest / "Bitmaps") << "x";
             return dest.string();
         },
         "Path not found: "},
        {"a folder name over 255 bytes", [&] { return (dest / longName).string(); }, "Device I/O error: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        box.prompts.clear(), owner.found.clear();
        const std::string d = row.dest();
        EXPECT_TRUE(Run(mod, Only(engine::RES_BITMAP), d));
        EXPECT_EQ(box.prompts, Names{row.prompt + d + "/Bitmaps/a.exe.bmp"});
        EXPECT_TRUE(owner.found.empty());
        // The other kinds of the next file are not held up.
        EXPECT_FALSE(Run(Module("b.exe", {R(21, 1, {1})}), Only(engine::RES_ANICURSOR), dest.string()));
        EXPECT_EQ(owner.found.size(), 1u);
    }
}

TEST_F(RunTest, OnlySelectedKindsAreEnumerated) {
    Run(Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(14, 1, {0}), R(12, 1, {0}), R(23, 1, {1}), R("avi", 1, {1}),
                         R(6, 1, {1}), R(21, 1, {1})}), Only(engine::RES_ANICURSOR));
    // Unselected kinds are not even enumerated: no index lines either.
    for (const auto& k : engine::kKinds) EXPECT_EQ(Files(k.folder).size(), k.type == platform::ResourceType::AniCursor ? 2u : 0u) << k.folder;
    EXPECT_FALSE(Run(Module("b.exe", {R("avi", 1, {1})}), AllKinds()));
    EXPECT_EQ(Files("Videos"), Names{});
    EXPECT_FALSE(Run("/bin/sh", AllKinds()));
}

// The owner's Idle comes between resources: a stop asked there ends the file
// with every resource written so far complete and listed, and nothing after.
TEST_F(RunTest, OwnerIdleStopsBetweenResources) {
    struct StoppingOwner : RecordingOwner {
        int idles = 0, stopAt = 0, withoutModule = 0;
        void Idle(engine::VBBool& Cancel) override {
            withoutModule += engine::State().Module == nullptr;  // the owner may read the open module
            Cancel = ++idles == stopAt ? engine::kTrue : Cancel;
        }
    };
    const std::string module = Module("a.exe", {R(23, 1, {'a'}), R(23, 2, {'b'}), R(23, 3, {'c'}), R(23, 4, {'d'})});
    // Idle once when the module is open, then before each resource: {stop at Idle, resources written}.
    const std::pair<int, size_t> rows[] = {{1, 0}, {2, 0}, {4, 2}, {0, 4}};
    for (const auto& [stopAt, written] : rows) {
        SCOPED_TRACE("stop at Idle " + std::to_string(stopAt));
        for (const auto& e : fs::directory_iterator(dest / "Web pages")) fs::remove(e.path());
        StoppingOwner stopping;
        stopping.stopAt = stopAt;
        std::string path = module;
        EXPECT_FALSE(engine::ExtractResources(path, Only(engine::RES_HTML), &stopping, dest.string()));
        EXPECT_EQ(stopping.found.size(), written);
        EXPECT_EQ(stopping.withoutModule, 0);
        EXPECT_EQ(engine::State().Module, nullptr);
        EXPECT_EQ(Files("Web pages").size(), written + (written ? 1 : 0));
        const std::string index = written ? ReadText(dest / "Web pages/__index.txt") : "";
        EXPECT_EQ(size_t(std::count(index.begin(), index.end(), '\n')), written);
    }
}

// A program file that changes while it is scanned: each resource written
// before the change is whole and listed, none is written from bytes of two
// versions, and the change is said once, naming the file. The owner's Idle
// (once at the open, then before each resource) makes the change before the
// second resource.
TEST_F(RunTest, SourceChangingDuringTheScanIsReported) {
    const std::vector<Res> res = {R(2, 1, Dib(64, 64, 24)), R(2, 2, Dib(64, 64, 24)), R(2, 3, Dib(64, 64, 24)),
                                  R(2, 4, Dib(64, 64, 24))};
    struct ChangingOwner : RecordingOwner {
        std::function<void()> change;
        int idles = 0;
        void Idle(engine::VBBool&) override {
            if (++idles == 3) change();
        }
    };
    const struct {
        const char* what;
        std::function<void(const std::string&)> change;
    } rows[] = {
        {"cut to half its size", [](const std::string& m) { fs::resize_file(m, fs::file_size(m) / 2); }},
        {"rewritten in place", [](const std::string& m) {
             ::usleep(20000);  // past the file time's granularity
             Bytes b = ReadFile(m);
             for (std::size_t i = b.size() / 2; i < b.size(); ++i) b[i] ^= 0x5A;
             std::ofstream(m, std::ios::binary | std::ios::in).write(reinterpret_cast<const char*>(b.data()), b.size());
         }},
    };
    for (int i = 0; const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string mod = Module("m" + std::to_string(i++) + ".exe", res);
        for (const auto& e : fs::directory_iterator(dest / "Bitmaps")) fs::remove(e.path());
        box.prompts.clear();
        ChangingOwner changing;
        changing.change = [&] { row.change(mod); };
        std::string path = mod;
        EXPECT_TRUE(engine::ExtractResources(path, Only(engine::RES_BITMAP), &changing, dest.string()));
        ASSERT_EQ(box.prompts.size(), 1u);
        EXPECT_NE(box.prompts[0].find(mod + "\r\nchanged or could not be read"), std::string::npos) << box.prompts[0];
        EXPECT_EQ(changing.found.size(), 1u);
        EXPECT_EQ(Files("Bitmaps").size(), 2u);  // the first bitmap and the index
        EXPECT_EQ(engine::State().LastError, 57);
    }
}

// Makes the n-th operation `which` (counted from 1) fail with err.
platform::FileFaultHook Fail(int n, int err, platform::FileOp which = platform::FileOp::Write) {
    return [=, count = std::make_shared<int>(0)](platform::FileOp op, const std::string&) {
        return platform::FaultDecision{op == which && ++*count == n ? err : 0};
    };
}

TEST_F(RunTest, DiskFullRetryThenCancelEndsOnlyThisFile) {
    // Each of the first two attempts gets ten bytes out, then the disk is full.
    platform::SetFileFaultHook([n = 0](platform::FileOp op, const std::string&) mutable {
        if (op != platform::FileOp::Write || n >= 4) return platform::FaultDecision{};
        return ++n % 2 ? platform::FaultDecision{0, 10} : platform::FaultDecision{ENOSPC};
    });
    box.answers = {platform::MsgResult::Retry, platform::MsgResult::Cancel};
    std::vector<Names> seen;  // the folder while each box is up
    box.onShow = [&] { seen.push_back(Files("Bitmaps")); };
    EXPECT_TRUE(Run(Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(2, 2, Dib(2, 2, 24))}), AllKinds()));
    ASSERT_EQ(seen, std::vector<Names>(2));  // two boxes, no partial file while they are up
    EXPECT_EQ(box.prompts[0], "The drive is full.\r\nPlease free some space on the drive.");
    EXPECT_EQ(box.buttons[0], platform::MsgButtons::RetryCancel);
    EXPECT_EQ(engine::State().LastError, 61);
    // The partial file is gone, the second bitmap was never tried.
    EXPECT_EQ(Files("Bitmaps"), Names{});
    EXPECT_TRUE(owner.found.empty());
    // The next program file starts afresh; Retry writes the same path.
    platform::SetFileFaultHook(Fail(1, ENOSPC));
    box.answers = {platform::MsgResult::Retry};
    EXPECT_FALSE(Run(Module("b.exe", {R(2, 1, Dib(2, 2, 24))}), AllKinds()));
    EXPECT_EQ(box.prompts.size(), 3u);
    EXPECT_EQ(Files("Bitmaps"), (Names{"__index.txt", "b.exe.bmp"}));
    EXPECT_EQ(owner.found.size(), 1u);
}

TEST_F(RunTest, OtherErrorsShowTheirDescriptionOnceAndStopTheFile) {
    const std::string mod = Module("a.exe", {R(21, 1, {1}), R(21, 2, {2})});
    const std::string ani = (dest / "Animated Cursors/a.exe.ani").string();
    for (auto [err, text] : {std::pair{EACCES, "Path/File access error: "}, std::pair{EIO, "Device I/O error: "}}) {
        box.prompts.clear();
        platform::SetFileFaultHook(Fail(1, err));
        EXPECT_TRUE(Run(mod, AllKinds()));
        EXPECT_EQ(box.prompts, Names{text + ani});
        EXPECT_EQ(box.buttons[0], platform::MsgButtons::OK);
        // Nothing of the failed write is at the name.
        EXPECT_TRUE(Files("Animated Cursors").empty());
    }
    EXPECT_TRUE(owner.found.empty());
    // A file whose index line cannot be appended is taken away again and the
    // message names the index; a full disk asks first.
    const std::string index = (dest / "Animated Cursors/__index.txt").string();
    for (auto [err, prompt] : {std::pair{EACCES, "Path/File access error: " + index}, std::pair{ENOSPC, std::string(engine::kDiskFullPrompt)}}) {
        box.prompts.clear();
        platform::SetFileFaultHook(Fail(1, err, platform::FileOp::Append));
        box.answers = {platform::MsgResult::Cancel};
        EXPECT_TRUE(Run(Module("b.exe", {R(21, 1, {1}), R(21, 2, {2})}), AllKinds()));
        EXPECT_EQ(box.prompts, Names{prompt});
        EXPECT_TRUE(Files("Animated Cursors").empty());
        EXPECT_TRUE(owner.found.empty());
    }
    // One that cannot be removed either is said with both errors, and the
    // next resource does not go on to the next name.
    box.prompts.clear();
    platform::SetFileFaultHook([](platform::FileOp op, const std::string&) {
        return platform::FaultDecision{op == platform::FileOp::Delete ? EACCES : op == platform::FileOp::Append ? EIO : 0};
    });
    EXPECT_TRUE(Run(Module("c.exe", {R(21, 1, {1}), R(21, 2, {2})}), AllKinds()));
    const std::string path = (dest / "Animated Cursors/c.exe.ani").string();
    EXPECT_EQ(box.prompts, Names{"The file\r\n" + path + "\r\nhas no line in its index (Device I/O error: " + index +
                                 ") and could not be deleted: Path/File access error"});
    EXPECT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(dest / "Animated Cursors/c.exe (2).ani"));
    EXPECT_EQ(engine::State().LastError, 75);
}

TEST_F(RunTest, MissingKindFolderShowsOnlyWhenSomethingIsWritten) {
    for (const char* k : {"Cursors", "Icons"}) fs::remove_all(dest / k);
    // A refused icon group writes nothing, not even an index line: no error.
    EXPECT_FALSE(Run(Module("r.exe", {R(14, 1, {0, 0, 1}), R(2, 1, {1, 2})}), AllKinds()));
    EXPECT_TRUE(box.prompts.empty());
    EXPECT_FALSE(fs::exists(dest / "Icons"));
    EXPECT_TRUE(Files("Bitmaps").empty());
    const std::string mod = Module("a.exe", {R(2, 1, Dib(2, 2, 24)), R(12, 1, CursorGroup({{32, 64, 1, 1, 308, 1}})),
                                             R(1, 1, CursorMember(32, 32, 1, 1)), R(2, 2, Dib(2, 2, 24))});
    EXPECT_TRUE(Run(mod, AllKinds()));
    EXPECT_EQ(box.prompts, Names{"Path not found: " + (dest / "Cursors/a.exe.cur").string()});
    EXPECT_EQ(engine::State().LastError, 76);
    EXPECT_EQ(owner.found.size(), 2u);  // both bitmaps came first; nothing after the cursor
}

TEST_F(RunTest, RealFullDiskOnTmpfs) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    const fs::path mnt = root / "small";
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "mount refused";
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(mnt.c_str(), MNT_DETACH); });
    fs::create_directory(mnt / "Videos");
    box.answers = {platform::MsgResult::Retry, platform::MsgResult::Cancel};
    EXPECT_TRUE(Run(Module("a.exe", {R("AVI", 1, Bytes(200 * 1024, 7))}), AllKinds(), mnt.string()));
    EXPECT_EQ(box.prompts.size(), 2u);
    EXPECT_FALSE(fs::exists(mnt / "Videos/a.exe.avi"));
    EXPECT_FALSE(Run(Module("c.exe", {R("AVI", 1, Bytes(100, 7))}), AllKinds(), mnt.string()));
    EXPECT_EQ(fs::file_size(mnt / "Videos/c.exe.avi"), 100u);
}

// Where a file system has no unnamed files, a file is written under a hidden
// name and renamed, never over anything: the same guarantees.
TEST_F(RunTest, FilesAppearWholeWhereThereAreNoUnnamedFiles) {
    struct NoUnnamedFiles final : platform::FileSystem {
        int Open(const char* p, int flags, mode_t mode) override {
            if ((flags & O_TMPFILE) == O_TMPFILE) return errno = EOPNOTSUPP, -1;
            return ::open(p, flags, mode);
        }
        ssize_t Writev(int fd, const iovec* iov, int n) override { return ::writev(fd, iov, n); }
        int Close(int fd) override { return ::close(fd); }
        int Fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
        int Ftruncate(int fd, off_t size) override { return ::ftruncate(fd, size); }
        ssize_t Pread(int fd, void* b, size_t n, off_t at) override { return ::pread(fd, b, n, at); }
        int Unlink(const char* p) override { return ::unlink(p); }
        int Stat(const char* p, struct stat* st, bool follow) override { return follow ? ::stat(p, st) : ::lstat(p, st); }
        int LinkUnnamed(int, const char*) override { return errno = EBADF, -1; }
        int RenameNoReplace(const char* from, const char* to) override {
            return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
        }
    } noUnnamed;
    platform::SetFileSystem(&noUnnamed);
    const std::shared_ptr<void> restore(nullptr, [](void*) { platform::SetFileSystem(nullptr); });
    { std::ofstream(dest / "Videos/a.exe.avi") << "theirs"; }
    platform::SetFileFaultHook(Fail(3, EIO));  // the second file's (after the first and its index line)
    EXPECT_TRUE(Run(Module("a.exe", {R("AVI", 1, Bytes(5000, 7)), R("AVI", 2, Bytes(10, 8))}), AllKinds()));
    EXPECT_EQ(Files("Videos"), (Names{"__index.txt", "a.exe (2).avi", "a.exe.avi"}));  // no hidden file left
    EXPECT_EQ(ReadText(dest / "Videos/a.exe.avi"), "theirs");
    EXPECT_EQ(ReadFile(dest / "Videos/a.exe (2).avi"), Bytes(5000, 7));
}

TEST_F(RunTest, FileIoSurvivesShortWritesAndTakesBackHalfLines) {
    platform::SetFileFaultHook([](platform::FileOp, const std::string&) { return platform::FaultDecision{0, 3}; });
    const Bytes data = Dib(16, 16, 24);
    bool created = false;
    const std::string p = (root / "f.bin").string(), idx = (root / "i.txt").string();
    EXPECT_EQ(platform::WriteNewFile(p, data, created).number, 0);
    EXPECT_TRUE(created);
    EXPECT_EQ(ReadFile(p), data);
    EXPECT_EQ(platform::WriteNewFile(p, data, created).number, platform::kErrFileAlreadyExists);
    EXPECT_FALSE(created);
    EXPECT_EQ(platform::AppendLine(idx, "one\r\n").number, 0);
    // The second write fails after three bytes went out: they are taken back.
    platform::SetFileFaultHook([n = 0](platform::FileOp op, const std::string&) mutable {
        return platform::FaultDecision{op == platform::FileOp::Write && ++n == 2 ? ENOSPC : 0, 3};
    });
    EXPECT_EQ(platform::AppendLine(idx, "two\r\n").number, 61);
    EXPECT_EQ(ReadText(idx), "one\r\n");
    // A line torn by a killed run is ended before the next one.
    platform::SetFileFaultHook(nullptr);
    for (const auto& [torn, healed] : {std::pair{"one\r\ntw", "one\r\ntw\r\n"}, {"one\r\ntwo\r", "one\r\ntwo\r\n"}, {"o", "o\r\n"}}) {
        { std::ofstream(idx, std::ios::binary | std::ios::trunc) << torn; }
        EXPECT_EQ(platform::AppendLine(idx, "three\r\n").number, 0);
        EXPECT_EQ(ReadText(idx), std::string(healed) + "three\r\n");
    }
}

}  // namespace
