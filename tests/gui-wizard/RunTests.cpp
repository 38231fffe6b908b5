// The progress page: stats rows, counting, progress arithmetic as shown,
// the animation's temporary file, the close box and the cancel question.
// The search's events are raised by the test from inside the run (the tick
// count is taken once the page is on show, just before the walk starts).
#include "WizardHarness.h"

#include "platform/system/Priority.h"
#include "platform/system/SystemVersion.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tuple>

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

class Run : public WizardTest {
protected:
    // Folder mode over the (empty) temporary folder; subfolders as asked.
    void StartFolderRun(bool subFolders, const std::vector<int>& kinds = {0, 1, 2, 3, 4, 5}, int endPage = 6) {
        const auto fill = [&] {
            SetText("txtFolder", Tmp(""));
            W<QCheckBox>("chkSubFolders")->setChecked(subFolders);
        };
        RunWith("optSearchFolder", fill, QStringLiteral("*.dll"), kinds, endPage);
        EXPECT_TRUE(ran);
    }

    // Raises count FileFound events; returns the last Cancel flag.
    engine::VBBool Files(int count, int32_t dirCount = 1) {
        engine::VBBool cancel = engine::kFalse;
        for (int32_t i = 1; i <= count && !cancel; ++i) {
            std::string name = Tmp("none.dll");
            int32_t files = i, dirs = dirCount;
            form->SearchCore_FileFound(name, files, dirs, cancel);
        }
        return cancel;
    }
};

TEST_F(Run, StatsRowsForTheChosenKindsAndEachResFoundAddsOne) {
    StartFolderRun(false, {1, 5});
    ASSERT_EQ(form->CurPage, 6);
    using Rows = std::vector<std::pair<QString, int>>;
    EXPECT_EQ(Stats(), (Rows{{QStringLiteral("Icon"), 0}, {QStringLiteral("Web page"), 0}}));
    auto* list = W<QTreeWidget>("lvResStats");
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("Resource type"));
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("Found"));
    EXPECT_FALSE(list->topLevelItem(0)->icon(0).isNull());
    // The first column fits its texts, header included; the last takes the rest.
    const QFontMetrics fm = list->fontMetrics();
    for (const QString& text : {QStringLiteral("Resource type"), QStringLiteral("Web page")})
        EXPECT_GE(list->columnWidth(0), fm.horizontalAdvance(text) + (text.startsWith('W') ? 16 : 0)) << text.toStdString();
    EXPECT_LT(list->columnWidth(0), list->viewport()->width() / 3) << "first column stretched";
    EXPECT_EQ(list->columnWidth(0) + list->columnWidth(1), list->viewport()->width());
    engine::ResName name = int32_t{7};
    for (int32_t kind : {1, 1, 1, 5, 0, 6, -1}) form->ResFound(kind, name);
    EXPECT_EQ(Stats(), (Rows{{QStringLiteral("Icon"), 3}, {QStringLiteral("Web page"), 1}}));
}

// Without subfolders no count: no frame and the bar does not move; with
// them the frame shows around the bar.
TEST_F(Run, TheFrameAroundTheBarOnlyWithSubfolders) {
    for (const bool sub : {false, true}) {
        SCOPED_TRACE(sub ? "with subfolders" : "without");
        if (form->CurPage != 0) NewForm(), ran = false, messages.answers = {MsgResult::Yes};  // the output folder is there now
        bool frame = !sub;
        duringRun = [&] {
            frame = W("l3dProgressBack")->isVisible();
            EXPECT_EQ(W("prbProgress")->parentWidget(), W("l3dProgressBack"));
            EXPECT_EQ(Text("lblStatus"), QStringLiteral("Please wait while Loomvale is scanning your system for resources.\n"));
            EXPECT_FALSE(W("cmdBack")->isEnabled() || W("cmdNext")->isEnabled());
            EXPECT_TRUE(W("cmdCancel")->isEnabled());
            if (sub) return;
            Files(3, 2);  // no folder total: the bar does not move
            EXPECT_EQ(W<QProgressBar>("prbProgress")->value(), 0);
        };
        StartFolderRun(sub);
        EXPECT_EQ(frame, sub);
    }
}

TEST_F(Run, ProgressArithmeticOnScreen) {
    auto* bar = W<QProgressBar>("prbProgress");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 50);
    const QString wait = QStringLiteral("Please wait while Loomvale is scanning your system for resources.\n");
    form->StartTicks = 1000;
    ticks = 1000 + 5000;  // bar moves after 5 s: no estimate yet
    // Folders counted, folders done, the bar (of 50) and the title's percent;
    // more folders than counted change nothing.
    for (const auto& [total, done, value, percent] : {std::tuple{200, 101, 25, 50}, std::tuple{4, 1, 12, 24},
                                                      std::tuple{4, 3, 38, 76}, std::tuple{4, 5, 38, 76}}) {
        SCOPED_TRACE(testing::Message() << done << " of " << total);
        form->TotalDirs = total;
        form->UpdateProgress(done);
        EXPECT_EQ(bar->value(), value);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Loomvale - %1% completed").arg(percent));
        EXPECT_EQ(Text("lblStatus"), QString()) << "no estimate in the first 5 s";
    }

    form->TotalDirs = 1000;
    ticks = 1000 + 30000;
    form->UpdateProgress(250);  // 90 s still needed
    EXPECT_EQ(bar->value(), 12);
    EXPECT_TRUE(Text("lblStatus").startsWith(wait + QStringLiteral("Remaining time: ")));
    const QString shown = Text("lblStatus");
    EXPECT_TRUE(shown.contains(QStringLiteral("1 min 30 sec"))) << shown.toStdString();

    form->UpdateProgress(250);  // same value: nothing is done
    form->TotalDirs = 10;
    ticks = 1000 + 32000;
    form->UpdateProgress(8);  // 8 s left: the status keeps its text
    EXPECT_EQ(bar->value(), 40);
    EXPECT_EQ(Text("lblStatus"), shown);

    // The tick count wraps around between start and now.
    form->StartTicks = static_cast<int32_t>(0xFFFFF000u);
    ticks = 20000;
    form->TotalDirs = 100;
    form->UpdateProgress(10);
    EXPECT_TRUE(Text("lblStatus").contains(QStringLiteral("Remaining time: "))) << Text("lblStatus").toStdString();
}

TEST_F(Run, CancelAnsweredNoGoesOnAndTheAnimationFileGoes) {
    std::string anim;
    duringRun = [&] {
        anim = form->AnimFile;
        EXPECT_TRUE(QFileInfo(QString::fromStdString(anim)).fileName().startsWith(QStringLiteral("ifr")));
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(anim)));
        messages.answers = {MsgResult::No};
        QTimer::singleShot(0, form.get(), [this] { Click("cmdCancel"); });
        EXPECT_EQ(Files(20), engine::kFalse);
        ExpectOneMessage("Are you sure you want to cancel the search?", MsgButtons::YesNo, MsgIcon::Exclamation);
        // The close box is gone for the run; where the desktop keeps one, a
        // close asks the same question where the run takes input, and No goes on.
        EXPECT_TRUE(form->CloseMenuRemoved());
        EXPECT_FALSE(form->windowFlags() & Qt::WindowCloseButtonHint);
        messages.shown.clear();
        messages.answers = {MsgResult::No};
        form->close();
        EXPECT_TRUE(messages.shown.empty()) << "not inside a file";
        EXPECT_EQ(Files(10), engine::kFalse);
        ExpectOneMessage("Are you sure you want to cancel the search?", MsgButtons::YesNo, MsgIcon::Exclamation);
        EXPECT_FALSE(form->Unloaded());
    };
    StartFolderRun(true);
    EXPECT_EQ(form->CurPage, 6);
    EXPECT_EQ(programEnds, 0);
    ASSERT_FALSE(anim.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(anim)));
    EXPECT_TRUE(form->AnimFile.empty());
    // On the finish page the desktop's close ends the program as "Close" does.
    form->close();
    EXPECT_EQ(programEnds, 1);
}

TEST_F(Run, CancelAnsweredYesEndsFromTheProgressPageWithoutLeavingTheFile) {
    std::string anim;
    engine::VBBool cancel = engine::kFalse;
    int scannedAfter = 0;
    duringRun = [&] {
        anim = form->AnimFile;
        messages.answers = {MsgResult::Yes};
        QTimer::singleShot(0, form.get(), [this] { form->close(); });  // the desktop's close asks as Cancel does
        cancel = Files(10);  // the close is handled in the yield after the tenth file
        EXPECT_TRUE(form->Unloaded());
        EXPECT_FALSE(W("cmdCancel")->isEnabled());
        scannedAfter = Files(1) ? 0 : 1;  // further events are refused at once
    };
    StartFolderRun(true, {0, 1, 2, 3, 4, 5}, 5);
    EXPECT_EQ(cancel, engine::kTrue);
    EXPECT_EQ(scannedAfter, 0);
    EXPECT_EQ(programEnds, 1);
    EXPECT_EQ(form->CurPage, 5);  // ended from the progress page, never left it
    ASSERT_FALSE(anim.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(anim)));
}

TEST_F(Run, PriorityClassesByPositionAndSystem) {
    const uint32_t expected[] = {0x40, 0x4000, 0x20, 0x8000, 0x80};
    for (int16_t pos = 1; pos <= 5; ++pos) {
        form->Priority = pos;
        EXPECT_EQ(form->PriorityClassFromSetting(), expected[pos - 1]) << pos;
    }
    // Before Windows 2000 the two in-between classes fall back to their neighbours.
    platform::OSVERSIONINFOA v{};
    for (const auto& [major, build, later] : {std::tuple{4u, 1381u, false}, std::tuple{5u, 2194u, false}, std::tuple{5u, 2195u, true}}) {
        SCOPED_TRACE(testing::Message() << major << "." << build);
        v.dwMajorVersion = major;
        v.dwBuildNumber = build;
        platform::SetSystemVersion(v);
        EXPECT_EQ(wizard::frmMain::IsWin2000OrLater(), later);
        for (int16_t pos : {2, 4}) {
            form->Priority = pos;
            EXPECT_EQ(form->PriorityClassFromSetting(), later ? expected[pos - 1] : (pos == 2 ? 0x40u : 0x80u)) << pos;
        }
    }
    platform::ResetSystemVersion();
    EXPECT_EQ(form->PriorityClassFromSetting(), 0x8000u);
}

// In a child process, so the test process keeps its own priority.
TEST(Priority, ClassesBecomeNiceValuesAndLowestIsIdleIo) {
    const pid_t pid = fork();
    if (pid == 0) _exit([] {
        const auto self = platform::OpenProcess(0x610, false, platform::GetCurrentProcessId());
        if (!self) return 1;
        if (platform::OpenProcess(0x610, false, platform::GetCurrentProcessId() + 1) != 0) return 2;
        if (platform::SetPriorityClass(self, 0x1234)) return 3;
        platform::SetPriorityClass(self, platform::BELOW_NORMAL_PRIORITY_CLASS);
        if (getpriority(PRIO_PROCESS, 0) != 10) return 4;
        platform::SetPriorityClass(self, platform::IDLE_PRIORITY_CLASS);
        if (getpriority(PRIO_PROCESS, 0) != 19) return 5;
#ifdef SYS_ioprio_get
        if ((syscall(SYS_ioprio_get, 1, 0) >> 13) != 3) return 6;
#endif
        // Going back up: exact for a privileged user, else silently the nearest allowed.
        platform::SetPriorityClass(self, platform::HIGH_PRIORITY_CLASS);
        const int nice = getpriority(PRIO_PROCESS, 0);
        if (geteuid() == 0 && nice != -10) return 7;
        if (nice < -10 || nice > 19) return 8;
        return 0;
    }());
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 99, 0);
}

}  // namespace
