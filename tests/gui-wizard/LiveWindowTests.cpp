// The window stays alive through a long search: paint and timer events are
// handled while folders are counted and walked (empty files only), the
// progress page is on screen when the count begins, and the desktop's ways
// of ending the program save the settings. The screen checks need a real
// display (Qt's xcb platform) and are skipped offscreen.
#include "WizardHarness.h"

#include "platform/qt/Animate.h"
#include "wizard/mExitRequests.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace {

using Phase = wizard::frmMain::RunPhase;

class LiveWindow : public WizardTest {
protected:
    // One tree of empty folders for the whole suite: making it is the slow part.
    static inline std::unique_ptr<QTemporaryDir> treeDir;
    static void SetUpTestSuite() {
        // In memory where there is a tmpfs: removing 10,000 folders from a
        // disk takes longer than the tests.
        const bool shm = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
        treeDir = shm ? std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/loomvale-live-XXXXXX"))
                      : std::make_unique<QTemporaryDir>();
        const std::filesystem::path root = treeDir->path().toStdString();
        for (int i = 0; i < 100; ++i)
            for (int j = 0; j < 100; ++j) {
                const std::filesystem::path leaf = root / std::to_string(i) / std::to_string(j);
                std::filesystem::create_directories(leaf);
                // An empty file for the walk to hand to the engine: the count
                // keeps the folders it read, so a walk of folders alone is
                // over before the window could paint.
                std::ofstream(leaf / "empty.none");
            }
    }
    static void TearDownTestSuite() { treeDir.reset(); }

    // Folder search with subfolders over the tree; every file is empty.
    void SearchTree(int endPage = 6) {
        const auto fill = [&] {
            W<QLineEdit>("txtFolder")->setText(treeDir->path());
            W<QCheckBox>("chkSubFolders")->setChecked(true);
        };
        RunWith("optSearchFolder", fill, QStringLiteral("*.none"), {0, 1, 2, 3, 4, 5}, endPage);
    }
    static bool RealDisplay() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
};

// Per phase of the run: timer ticks, paint events of the clip, clip frames
// shown and the longest time without a paint event.
class PhaseWatch : public QObject {
public:
    struct Seen {
        int ticks = 0, paints = 0, frames = 0;
        qint64 longestGap = 0;
    };
    std::map<Phase, Seen> seen;

    PhaseWatch(wizard::frmMain& form, platform::Animate& clip) : clip_(clip) {
        // The time from the last paint to the phase's end counts as a gap too.
        connect(&form, &wizard::frmMain::RunPhaseChanged, this, [this](Phase p) { Gap(), phase_ = p, sincePaint_.start(); });
        clip.installEventFilter(this);
        // A timer that asks for a repaint at every chance it gets.
        connect(&tick_, &QTimer::timeout, this, [this] { ++seen[phase_].ticks, clip_.update(); });
        tick_.start(0);
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::Paint) return false;
        Seen& s = seen[phase_];
        ++s.paints;
        Gap();
        if (clip_.CurrentFrame() != lastFrame_) ++s.frames, lastFrame_ = clip_.CurrentFrame();
        return false;
    }
    void Print(Phase p, const char* name) {
        std::cout << name << ": " << seen[p].ticks << " ticks, " << seen[p].paints << " paints, " << seen[p].frames
                  << " clip frames, longest gap between paints " << seen[p].longestGap << " ms\n";
    }

private:
    void Gap() {
        if (sincePaint_.isValid()) seen[phase_].longestGap = std::max(seen[phase_].longestGap, sincePaint_.restart());
    }
    platform::Animate& clip_;
    QTimer tick_;
    Phase phase_ = Phase::Idle;
    QElapsedTimer sincePaint_;
    int lastFrame_ = -1;
};

TEST_F(LiveWindow, PaintAndTimersAreHandledWhileCountingAndWalking) {
    PhaseWatch watch(*form, *W<platform::Animate>("aniAnim"));
    SearchTree();
    for (Phase p : {Phase::Counting, Phase::Walking}) {
        const char* name = p == Phase::Counting ? "count" : "walk";
        EXPECT_GT(watch.seen[p].ticks, 0) << name;
        EXPECT_GT(watch.seen[p].paints, 0) << name;
        watch.Print(p, name);
    }
}

TEST_F(LiveWindow, ProgressPageIsOnScreenWhenTheCountBegins) {
    if (!RealDisplay()) GTEST_SKIP() << "needs a real display";
    // Where the window manager (if any) has put the window.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::qWait(200);
    const QRect placed = form->geometry();
    struct Shot {
        QImage screen, widget;
    };
    std::map<const char*, Shot> shots;
    bool exposed = false;
    QRect atCount;
    QObject::connect(form.get(), &wizard::frmMain::RunPhaseChanged, [&](Phase p) {
        if (p != Phase::Counting || !shots.empty()) return;
        exposed = form->windowHandle()->isExposed();
        atCount = form->geometry();
        // What the X server shows, against what the widget would paint.
        for (const char* name : {"fraScreenHdr", "lvResStats"}) {
            QWidget* w = W(name);
            const QPoint at = w->mapToGlobal(QPoint(0, 0));
            shots[name] = {QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), w->width(), w->height()).toImage(),
                           w->grab().toImage()};
        }
    });
    SearchTree();
    ASSERT_EQ(shots.size(), 2u) << "no count began";
    EXPECT_TRUE(exposed);
    EXPECT_EQ(atCount, placed) << "the window moved";
    for (auto& [name, shot] : shots) {
        const QImage screen = shot.screen.convertToFormat(QImage::Format_RGB32);
        const QImage widget = shot.widget.convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(screen.size(), widget.size()) << name;
        qint64 same = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x) same += screen.pixel(x, y) == widget.pixel(x, y);
        EXPECT_GE(same * 100, qint64(screen.width()) * screen.height() * 98) << name << " is not on screen";
    }
}

TEST_F(LiveWindow, EndOfSessionSignalsUnloadAndSaveTheSettings) {
    struct Row { int sig; bool duringWalk; };
    // A store of its own, so that what these runs save reaches no other test.
    QTemporaryDir store;
    struct Restore {
        QByteArray value;
        ~Restore() { qputenv("LOOMVALE_REGISTRY", value); }
    } restore{qgetenv("LOOMVALE_REGISTRY")};
    qputenv("LOOMVALE_REGISTRY", store.path().toUtf8());
    for (const Row row : {Row{SIGTERM, false}, Row{SIGHUP, false}, Row{SIGTERM, true}}) {
        SCOPED_TRACE(testing::Message() << "signal " << row.sig << (row.duringWalk ? " during the walk" : ""));
        if (form->Unloaded()) programEnds = 0, NewForm();
        wizard::ExitRequests exits;
        QObject::connect(&exits, &wizard::ExitRequests::Requested, form.get(), &wizard::frmMain::EndSession);
        if (row.duringWalk) {
            QObject::connect(form.get(), &wizard::frmMain::RunPhaseChanged, [&](Phase p) {
                if (p == Phase::Walking) std::raise(row.sig);
            });
            SearchTree(5);  // not on to the finish page
        } else {
            form->FolderPath = treeDir->path().toStdString();
            std::raise(row.sig);
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(form->Unloaded());
        EXPECT_EQ(programEnds, 1);
        // What was saved is what the next start reads.
        wizard::frmMain next;
        EXPECT_EQ(next.FolderPath, treeDir->path().toStdString());
    }
    // A store that cannot be written: the signal still ends the program at
    // once, the error on standard error, no box waiting for a click.
    programEnds = 0, NewForm();
    wizard::ExitRequests exits;
    QObject::connect(&exits, &wizard::ExitRequests::Requested, form.get(), &wizard::frmMain::EndSession);
    QFile file(store.path() + "/file");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    qputenv("LOOMVALE_REGISTRY", (store.path() + "/file/sub").toUtf8());
    messages.shown.clear();
    std::raise(SIGTERM);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form->Unloaded());
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
