// The batch command over folder trees: mask, subfolders, progress into a
// pipe, usage errors and Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct CliResult {
    int status = -1;  // exit status, -1 when killed
    std::string out, err;
};

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
        if (module) fs::copy_file(fs::path(LOOMVALE_FIXTURES) / "kinds.dll", root / rel);
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

// Every module of the tree gives one clip, so the clip count is the number
// of modules taken.
TEST_F(FolderRun, MaskAndSubfoldersChooseTheFiles) {
    Put("a.dll");
    Put("notes.txt");  // a module by content, but not by name
    Put("sub/B.EXE");  // masks match whatever the case
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
    // line. The missing path is no success: status 1, the rest still done.
    const std::string gone = (root / "gone.dll").string();
    r = Cli(Extract({"--no-subfolders", (root / "sub").string(), gone, (root / "a.dll").string()}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Video (AVI): 2\n");
    EXPECT_EQ(r.err, "[1] " + (root / "sub" / "B.EXE").string() + "\n[2] " + (root / "sub" / "junk.dll").string() +
                         "\n[3] " + gone + "\nloomvale-extract: " + gone + ": no such file\n[4] " +
                         (root / "a.dll").string() + "\n3 files scanned, 1 not found\n");
    EXPECT_EQ(Cli(Extract({"--quiet", (root / "a.dll").string()})).status, 0);
}

// Names reach the terminal with their control characters escaped, in the
// progress lines and in the message for a missing file; the module is still
// found and scanned under its real name.
TEST_F(FolderRun, ControlCharactersInNamesAreShownEscaped) {
    Put("a\x1b[2J\nb\x07.dll");
    const std::string gone = (root / "gone\x1b]0;title\x07.dll").string();
    const CliResult r = Cli(Extract({"--no-subfolders", root.string(), gone}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Video (AVI): 1\n");
    const std::string shown = root.string() + "/gone\\x1b]0;title\\a.dll";
    EXPECT_EQ(r.err, "[1] " + root.string() + "/a\\x1b[2J\\nb\\a.dll\n[2] " + shown + "\nloomvale-extract: " + shown +
                         ": no such file\n1 file scanned, 1 not found\n");
}

TEST_F(FolderRun, ProgressLinesIntoAFile) {
    for (int i = 0; i < 30; ++i) Put("d" + std::to_string(100 + i) + "/m.dll");
    const CliResult r = Cli(Extract({root.string()}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Video (AVI): 30\n");
    // 30 folders of 3 entries after the 2 of the root: the files come at
    // entries 3, 6 ... 90 of 92, each moving the percentage; no rewriting.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 31);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "4% | 1 file | video 1");
    EXPECT_NE(r.err.find("\n98% | 30 files | video 30\n30 files scanned\n"), std::string::npos) << r.err;
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
    const uint32_t riff = static_cast<uint8_t>(clip[4]) | static_cast<uint8_t>(clip[5]) << 8 |
                          static_cast<uint8_t>(clip[6]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(clip[7])) << 24;
    EXPECT_EQ(riff + 8u, clip.size());
}

// Ctrl-C while folders are counted or walked and no file matches: the walk
// has no file event to stop at, yet the command ends with status 130 and
// its counts, whenever the signal comes.
TEST_F(FolderRun, InterruptStopsTheCountAndTheWalkWithoutAMatch) {
    // In memory where possible: removing thousands of folders from a disk is slow.
    char tmpl[] = "/dev/shm/lv-walk-XXXXXX";
    const fs::path tree = ::mkdtemp(tmpl) ? fs::path(tmpl) : root / "big";
    for (int i = 0; i < 80; ++i)
        for (int j = 0; j < 100; ++j) fs::create_directories(tree / std::to_string(i) / std::to_string(j));
    for (const int delayMs : {0, 2, 10, 30}) {
        SCOPED_TRACE(testing::Message() << "Ctrl-C after " << delayMs << " ms");
        fs::remove_all(dest);
        const pid_t pid = Start(Extract({tree.string()}));
        // The destination exists once the handler is in place.
        while (!fs::exists(dest / "Videos")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(pid, SIGINT);
        int st = 0;
        waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFEXITED(st)) << "killed by signal " << WTERMSIG(st);
        EXPECT_EQ(WEXITSTATUS(st), 130);
        EXPECT_EQ(Slurp(base / "stdout"), "Video (AVI): 0\n");
        const std::string err = Slurp(base / "stderr");
        EXPECT_NE(err.find("0 files scanned\nloomvale-extract: interrupted\n"), std::string::npos) << err;
    }
    fs::remove_all(tree);
}

}  // namespace
