// The batch command as a process: what it writes from the fixture modules
// (checked with independent decoders), folder trees, progress into a pipe,
// usage errors and Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Packages.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct CliResult {
    int status = -1;  // exit status, -1 when killed
    std::string out, err;
};

// A shell command's status and stdout.
CliResult Shell(const std::string& cmd) {
    CliResult r;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    if (const int st = p ? pclose(p) : -1; st != -1 && WIFEXITED(st)) r.status = WEXITSTATUS(st);
    return r;
}

const fs::path kFixtures = LOOMVALE_FIXTURES;

uint32_t Le32(const std::string& b, size_t at) {
    return b.size() < at + 4 ? 0 : uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// A bitmap file's pixels: the bytes from its header's offset on.
std::string Pixels(const fs::path& p) {
    const std::string b = Slurp(p);
    return b.size() >= 14 && Le32(b, 10) <= b.size() ? b.substr(Le32(b, 10)) : std::string();
}

class FolderRun : public ::testing::Test {
protected:
    fs::path base, root, dest;
    void SetUp() override {
        char tmpl[] = "/tmp/lv-folder-XXXXXX";
        base = mkdtemp(tmpl);
        root = base / "tree";
        dest = base / "out";
    }
    void TearDown() override { fs::remove_all(base); }

    void Put(const fs::path& rel, bool module = true) {
        fs::create_directories((root / rel).parent_path());
        if (module) fs::copy_file(kFixtures / "kinds.dll", root / rel);
        else std::ofstream(root / rel) << "not a module";
    }
    // Starts the command with stdout in a file, stderr into errFd or a file
    // (not a terminal, so progress comes as plain lines).
    pid_t Start(std::vector<std::string> args, int errFd = -1) {
        args.insert(args.begin(), LOOMVALE_EXTRACT);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open((base / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(errFd >= 0 ? errFd : open((base / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    CliResult Cli(std::vector<std::string> args) {
        int st = 0;
        waitpid(Start(std::move(args)), &st, 0);
        return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, Slurp(base / "stdout"), Slurp(base / "stderr")};
    }
    std::vector<std::string> Extract(std::vector<std::string> extra) {
        std::vector<std::string> a{"--dest", dest.string(), "--types", "video"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

TEST_F(FolderRun, WritesEveryKindOfTheFixture) {
    const std::string kinds = (kFixtures / "kinds.dll").string();
    const CliResult r = Cli({"--quiet", "--dest", dest.string(), kinds});
    ASSERT_EQ(r.status, 0) << r.err;
    // The 64-pixel cursor and the bitmap under the string name "123" (the
    // module has no ID 123) included.
    EXPECT_EQ(r.out, "Bitmap: 9\nIcon: 2\nCursor: 3\nAnimated cursor: 1\nVideo (AVI): 1\nWeb page: 4\n");
    // Again for web pages only: the counter moves on, no bitmap is written.
    ASSERT_EQ(Cli({"--quiet", "--dest", dest.string(), "--types", "html", kinds}).status, 0);
    EXPECT_TRUE(fs::exists(dest / "Web pages" / "kinds.dll - ABOUT (2).HTM"));
    EXPECT_FALSE(fs::exists(dest / "Bitmaps" / "kinds.dll (10).bmp"));
}

TEST_F(FolderRun, SixteenBitModulesInAFolderDecodeLikeTheirSource) {
    // kinds.dll and its repacking as NE modules (units of 16 and 512 bytes,
    // plus a bitmap in the core form), beside a font module with nothing to take.
    fs::create_directories(root);
    for (const char* f : {"kinds.dll", "kinds16.exe", "kinds16_512.exe"}) fs::copy_file(kFixtures / f, root / f);
    ASSERT_TRUE(testsupport::Installed("/usr/share/wine/fonts/coure.fon", "fonts-wine"));
    fs::copy_file("/usr/share/wine/fonts/coure.fon", root / "coure.exe");
    const CliResult r = Cli({"--quiet", "--dest", dest.string(), root.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Bitmap: 29\nIcon: 6\nCursor: 9\nAnimated cursor: 3\nVideo (AVI): 3\nWeb page: 12\n");
    // Icon and cursor files hold each image's own bytes, not the padding the
    // 16-bit module stores after it: the same files as from the 32-bit module.
    for (const char* kind : {"Icons", "Cursors"})
        for (const auto& e : fs::directory_iterator(dest / kind)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("kinds.dll", 0) != 0) continue;
            for (const char* ne : {"kinds16.exe", "kinds16_512.exe"})
                EXPECT_EQ(Slurp(dest / kind / (ne + name.substr(9))), Slurp(e.path())) << ne << " " << name;
        }
    EXPECT_EQ(Slurp(dest / "Web pages" / "kinds16.exe - ABOUT.HTM").substr(0, 41), "<html><body><h1>About</h1></body></html>\n");
    ASSERT_TRUE(testsupport::Installed("/usr/bin/identify", "imagemagick"));
    std::string all = "\n";
    for (const auto* folder : {"Bitmaps", "Icons", "Cursors"})
        for (const auto& e : fs::directory_iterator(dest / folder)) {
            if (e.path().filename() == "__index.txt") continue;
            const auto id = Shell("identify -format '%m %wx%h %z;' " + Quote(e.path().string()));
            EXPECT_EQ(id.status, 0) << e.path();
            all += e.path().filename().string() + ": " + id.out + "\n";
        }
    // The bit-field bitmaps decode to their real size (the pixel offset skips
    // the masks); four icon images, the last a 256-pixel PNG; a cursor of two
    // images, each at its own size.
    for (const std::string f : {"kinds.dll", "kinds16.exe", "kinds16_512.exe"})
        for (const char* want : {" (8).bmp: BMP3 6x6 8;", " (9).bmp: BMP3 5x5 8;", " (4).bmp: BMP3 8x4 4;",
                                 " (2).ico: PNG 16x16 8;PNG 32x32 8;PNG 48x48 8;PNG 256x256 8;",
                                 ".cur: CUR 32x32 1;", " (2).cur: CUR 64x64 1;", " (3).cur: CUR 16x16 1;CUR 32x32 1;",
                                 f == "kinds.dll" ? ".bmp: BMP3 33x17 8;" : " (10).bmp: BMP2 8x4 4;"})  // the core form
            EXPECT_NE(all.find("\n" + f + want), std::string::npos) << f + want << "\n" << all;
}

TEST_F(FolderRun, EveryBitmapHeaderFormDecodesLikeItsSource) {
    // bitmaps.dll holds one bitmap per header form, each named after its
    // source in tests/fixtures/src/bitmaps.
    ASSERT_TRUE(testsupport::Installed("/usr/bin/compare", "imagemagick"));
    ASSERT_TRUE(testsupport::Installed("/usr/lib/python3/dist-packages/PIL/Image.py", "python3-pil"));
    ASSERT_EQ(Cli({"--quiet", "--dest", dest.string(), "--types", "bitmap", (kFixtures / "bitmaps.dll").string()}).status, 0);
    std::map<std::string, fs::path> written;  // resource name -> file, from the index
    std::istringstream index(Slurp(dest / "Bitmaps/__index.txt"));
    for (std::string line; std::getline(index, line);) {
        const auto name = line.find(" RESOURCE NAME = ");
        ASSERT_NE(name, std::string::npos) << line;
        written[line.substr(name + 17, line.size() - name - 18)] = dest / "Bitmaps" / line.substr(0, line.find(" - "));
    }
    // Pillow reads neither the 52- and 56-byte headers nor compression 6;
    // ImageMagick not compression 6 (its V3 twin holds the same pixels).
    enum Decoder { pil, magick, neither };
    const auto same = [](Decoder d, const fs::path& a, const fs::path& b) {
        const std::string files = Quote(a.string()) + " " + Quote(b.string());
        if (d == magick)  // prints the count of differing pixels on stderr
            return Shell("compare -metric AE " + files + " null: 2>&1 | cat").out == "0";
        return Shell("/usr/bin/python3 -c 'import sys; from PIL import Image\n"
                     "a, b = (Image.open(f).convert(\"RGBA\") for f in sys.argv[1:])\n"
                     "print(a.size == b.size and a.tobytes() == b.tobytes())' " + files).out == "True\n";
    };
    const std::pair<const char*, Decoder> rows[] = {
        {"CORE1", pil}, {"CORE4", pil}, {"CORE8", pil}, {"CORE24", pil}, {"INFO4", pil}, {"PIL1", pil},
        {"PIL8", pil}, {"PIL24", pil}, {"RLE4", pil}, {"RLE8", pil}, {"TOPDOWN", pil}, {"V4", pil},
        {"V5", pil}, {"V5RGB", pil}, {"V5RGB565", pil}, {"V2", magick}, {"V3", magick}, {"ALPHA6", neither},
    };
    const fs::path sources = fs::path(LOOMVALE_FIXTURES) / "src/bitmaps";
    for (const auto& [name, decoder] : rows) {
        std::string file = std::string(name) + ".bmp";
        std::transform(file.begin(), file.end(), file.begin(), ::tolower);
        ASSERT_TRUE(written.count(name)) << name << " was not written";
        const fs::path src = sources / file, out = written[name];
        if (decoder != neither) {
            EXPECT_TRUE(same(decoder, src, out)) << name;
        }
        // The file's offset must land on the pixels its source holds.
        EXPECT_EQ(Pixels(out), Pixels(name == std::string("ALPHA6") ? sources / "v3.bmp" : src)) << name;
    }
    // JPEG compression and the 64-byte header are refused: no file, no line.
    EXPECT_EQ(written.size(), std::size(rows));
    EXPECT_EQ(std::distance(fs::directory_iterator(dest / "Bitmaps"), {}), std::ptrdiff_t(std::size(rows) + 1));
}

// Every module of the tree gives one clip, so the clip count is the number
// of modules taken.
TEST_F(FolderRun, MaskAndSubfoldersChooseTheFiles) {
    Put("a.dll");
    Put("notes.txt");  // a module by content, but not by name
    Put("sub/B\x1b[2J\nb\x07.EXE");  // masks match whatever the case; controls in the name
    Put("sub/deep/c.ocx");
    Put("sub/junk.dll", false);
    fs::create_directory_symlink(root, root / "sub" / "loop");  // never followed
    fs::create_directory_symlink(root, root / "back.dll");     // a file by its name, not a module

    CliResult r = Cli(Extract({"--quiet", root.string()}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Video (AVI): 3\n");
    EXPECT_EQ(r.err, "");
    const std::string index = Slurp(dest / "Videos" / "__index.txt");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 3) << index;

    EXPECT_EQ(Cli(Extract({"--quiet", "--no-subfolders", root.string()})).out, "Video (AVI): 1\n");
    EXPECT_EQ(Cli(Extract({"--quiet", "--mask", "*.exe", root.string()})).out, "Video (AVI): 1\n");
    EXPECT_EQ(Cli(Extract({"--quiet", "--mask", "*.txt;*.dll", root.string()})).out, "Video (AVI): 2\n");
    EXPECT_EQ(Cli(Extract({"--quiet", "--mask", "", root.string()})).out, "Video (AVI): 0\n");
    // A folder, a path that names nothing and a file in one run; without
    // --quiet each file of a folder searched without subfolders gets its
    // line, its control characters escaped. The missing path is no success:
    // status 1, the rest still done.
    const std::string gone = (root / "gone\x1b]0;title\x07.dll").string(), shown = root.string() + "/gone\\x1b]0;title\\a.dll";
    r = Cli(Extract({"--no-subfolders", (root / "sub").string(), gone, (root / "a.dll").string()}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Video (AVI): 2\n");
    EXPECT_EQ(r.err, "[1] " + root.string() + "/sub/B\\x1b[2J\\nb\\a.EXE\n[2] " + (root / "sub/junk.dll").string() +
                         "\n[3] " + shown + "\nloomvale-extract: " + shown + ": no such file\n[4] " +
                         (root / "a.dll").string() + "\n3 files scanned, 1 not found\n");
    EXPECT_EQ(Cli(Extract({"--quiet", (root / "a.dll").string()})).status, 0);
}

TEST_F(FolderRun, UsageErrors) {
    Put("a.dll");
    const std::pair<std::vector<std::string>, int> rows[] = {
        {Extract({"--all-drives", root.string()}), 2}, {Extract({"--all-drives", "--no-subfolders"}), 2},
        {Extract({root.string(), "--mask"}), 2}, {Extract({}), 2}, {{"--all-drives"}, 2}, {{}, 2},
        {{"--dest", dest.string(), "--types", "sprites", "x.dll"}, 2}, {{"--help"}, 0},
        {{"--dest", "/nonexistent-parent/out", "x.dll"}, 2},
    };
    for (const auto& [args, status] : rows) EXPECT_EQ(Cli(args).status, status) << ::testing::PrintToString(args);
    EXPECT_FALSE(fs::exists(dest));
}

// Ctrl-C stops between two files. The command's stderr is a pipe that is
// already full, so it stops at its first progress line, right after the
// first module, until the test has sent the signal and drains the pipe: no
// timing decides where the run is when the signal comes.
TEST_F(FolderRun, InterruptStopsBetweenTwoFiles) {
    for (int i = 0; i < 10; ++i) Put("d0" + std::to_string(i) + "/m.dll");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string fill(4096, 'x');
    std::size_t prefilled = 0;
    for (ssize_t n; (n = write(fds[1], fill.data(), fill.size())) > 0;) prefilled += static_cast<std::size_t>(n);
    fcntl(fds[1], F_SETFL, 0);

    const pid_t pid = Start(Extract({root.string()}), fds[1]);
    close(fds[1]);
    // The first index line exists only after the handler is in place.
    const fs::path index = dest / "Videos" / "__index.txt";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int st = 0;
    bool gone = false;
    while (!fs::exists(index) && std::chrono::steady_clock::now() < deadline && !gone) {
        gone = waitpid(pid, &st, WNOHANG) == pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(gone) << "the command ended before it was interrupted";
    ASSERT_TRUE(fs::exists(index));
    kill(pid, SIGINT);
    std::string err;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) err.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st)) << "killed by signal " << WTERMSIG(st);
    EXPECT_EQ(WEXITSTATUS(st), 130);
    EXPECT_EQ(Slurp(base / "stdout"), "Video (AVI): 1\n");
    err.erase(0, prefilled);
    // Ten folders of 3 entries after the 2 of the root: the first file at entry 3 of 32.
    EXPECT_EQ(err, "10% | 1 file | video 1\n1 file scanned\nloomvale-extract: interrupted\n");
    // Beside the index, one clip, whole: its RIFF size covers the file.
    int files = 0;
    std::string clip;
    for (const auto& e : fs::directory_iterator(dest / "Videos"))
        if (++files, e.path().filename() != "__index.txt") clip = Slurp(e.path());
    ASSERT_EQ(files, 2);
    ASSERT_GE(clip.size(), 8u);
    EXPECT_EQ(Le32(clip, 4) + 8u, clip.size());
}

// Ctrl-C while folders are counted or walked and no file matches: the walk
// has no file event to stop at, yet the command ends with status 128 + the
// signal and its counts, whenever the signal comes.
TEST_F(FolderRun, InterruptStopsTheCountAndTheWalkWithoutAMatch) {
    // In memory where possible: removing thousands of folders from a disk is slow.
    char tmpl[] = "/dev/shm/lv-walk-XXXXXX";
    const fs::path tree = ::mkdtemp(tmpl) ? fs::path(tmpl) : root / "big";
    for (int i = 0; i < 80; ++i)
        for (int j = 0; j < 100; ++j) fs::create_directories(tree / std::to_string(i) / std::to_string(j));
    // SIGTERM and SIGHUP (a closed terminal, a session's end) stop as Ctrl-C does.
    for (const auto& [delayMs, signal] : {std::pair{0, SIGINT}, {2, SIGTERM}, {10, SIGHUP}, {30, SIGINT}}) {
        SCOPED_TRACE(testing::Message() << "signal " << signal << " after " << delayMs << " ms");
        fs::remove_all(dest);
        const pid_t pid = Start(Extract({tree.string()}));
        // The destination exists once the handler is in place.
        while (!fs::exists(dest / "Videos")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(pid, signal);
        int st = 0;
        waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFEXITED(st)) << "killed by signal " << WTERMSIG(st);
        EXPECT_EQ(WEXITSTATUS(st), 128 + signal);
        EXPECT_EQ(Slurp(base / "stdout"), "Video (AVI): 0\n");
        const std::string err = Slurp(base / "stderr");
        EXPECT_NE(err.find("0 files scanned\nloomvale-extract: interrupted\n"), std::string::npos) << err;
    }
    fs::remove_all(tree);
}

// Makes `levels` nested folders named `name` below root, a module in the
// deepest and (when `alsoAt` > 0) one at that level: by handle, as paths this
// long cannot be named whole.
void MakeDeepTree(const fs::path& root, const std::string& name, int levels, int alsoAt) {
    fs::create_directories(root);
    const std::string module = Slurp(kFixtures / "kinds.dll");
    const auto put = [&](int dir) {
        const int f = openat(dir, "m.dll", O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_EQ(write(f, module.data(), module.size()), ssize_t(module.size()));
        close(f);
    };
    int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 1; i <= levels; ++i) {
        ASSERT_EQ(mkdirat(dir, name.c_str(), 0755), 0);
        const int next = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(dir);
        dir = next;
        if (i == alsoAt) put(dir);
    }
    put(dir);
    close(dir);
}

// Every module the walk finds is read, however long its path; folders past
// the walk's depth limit are reported, never passed over quietly; the count
// and the walk agree, so the progress ends at 100 % and never passes it.
TEST_F(FolderRun, LongAndDeepPathsAreReadOrReported) {
    const struct {
        const char* what;
        std::string name;
        int levels, alsoAt, status;
        const char* out;
        const char* said;  // on stderr
    } rows[] = {
        {"a 5,500-byte path", std::string(90, 'x'), 60, 0, 0, "Video (AVI): 1\n", "1 file scanned\n"},
        {"2,100 levels", "a", 2100, 1000, 1, "Video (AVI): 1\n",
         ": 1 folder is nested too deeply to be searched (more than 2048 levels)\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Shell("rm -rf " + Quote(root.string()) + " " + Quote(dest.string()));
        MakeDeepTree(root, row.name, row.levels, row.alsoAt);
        const CliResult r = Cli(Extract({root.string()}));
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("100% | "), std::string::npos) << r.err;
        for (std::size_t at = r.err.find("% |"); at != std::string::npos; at = r.err.find("% |", at + 1))
            EXPECT_LE(std::stoi(r.err.substr(r.err.rfind('\n', at) + 1)), 100) << r.err;
    }
    Shell("rm -rf " + Quote(root.string()));  // too deep for remove_all
}

// A kill at any moment leaves no incomplete file: every file in the
// destination is byte for byte the one a whole run writes under that name,
// at most one of them has no index line, and a second run into the same
// destination completes.
TEST_F(FolderRun, KilledAtAnyMomentLeavesOnlyWholeFiles) {
    for (int i = 0; i < 12; ++i) Put("d" + std::to_string(i) + "/m.dll");
    const fs::path whole = base / "whole";
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Cli({"--quiet", "--dest", whole.string(), root.string()}).status, 0);
    const auto runTime = std::chrono::steady_clock::now() - started;
    std::map<std::string, std::string> reference;  // kind/name -> bytes
    for (const auto& e : fs::recursive_directory_iterator(whole))
        if (e.is_regular_file()) reference[fs::relative(e.path(), whole).string()] = Slurp(e.path());

    const int kills = 40;
    int unlisted = 0, partial = 0;
    for (int k = 0; k < kills; ++k) {
        fs::remove_all(dest);
        const pid_t pid = Start({"--quiet", "--dest", dest.string(), root.string()});
        std::this_thread::sleep_for(runTime * k / kills);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (!fs::exists(dest)) continue;
        for (const auto& kind : fs::directory_iterator(dest)) {
            std::string index = Slurp(kind.path() / "__index.txt");
            // A last line torn by the kill (a write may stop at a page
            // boundary) is set aside: its file counts as unlisted.
            if (!index.empty() && !index.ends_with("\r\n"))
                index.erase(index.rfind("\r\n") == std::string::npos ? 0 : index.rfind("\r\n") + 2);
            for (const auto& e : fs::directory_iterator(kind.path())) {
                const std::string name = e.path().filename().string(), rel = fs::relative(e.path(), dest).string();
                if (name == "__index.txt") continue;
                partial += Slurp(e.path()) != reference[rel];
                unlisted += index.find(name + " - SOURCE FILE") == std::string::npos;
            }
            // Every line is whole and names a file that is there.
            std::istringstream lines(index);
            for (std::string line; std::getline(lines, line);)
                EXPECT_TRUE(fs::exists(kind.path() / line.substr(0, line.find(" - SOURCE FILE")))) << line;
        }
        EXPECT_LE(unlisted, 1) << "kill " << k;
        unlisted = 0;
    }
    EXPECT_EQ(partial, 0);
    // The last destination is run into again: everything comes, nothing is lost.
    ASSERT_EQ(Cli({"--quiet", "--dest", dest.string(), root.string()}).status, 0);
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
        files += e.is_regular_file() && e.path().filename() != "__index.txt";
        if (e.path().filename() == "__index.txt") {
            EXPECT_TRUE(Slurp(e.path()).ends_with("\r\n")) << e.path();
        }
    }
    EXPECT_GE(files, reference.size() - 6);  // less the six indexes
}

}  // namespace
