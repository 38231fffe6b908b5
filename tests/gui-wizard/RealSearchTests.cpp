// Whole runs through the window with the real engine and search: copies of
// the fixture module in a tree, each search mode, and the counts on the
// progress page against the files the engine wrote.
#include "WizardHarness.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTreeWidget>

#include <map>
#include <numeric>

#include "platform/fs/Drives.h"

namespace {

const QString kFixture = QStringLiteral(LOOMVALE_SOURCE_DIR "/tests/fixtures/kinds.dll");
// The same resources in a 16-bit module, plus one core-header bitmap.
const QString kFixture16 = QStringLiteral(LOOMVALE_SOURCE_DIR "/tests/fixtures/kinds16.exe");

class RealSearch : public WizardTest {
protected:
    void Copy(const std::string& rel, const QString& from = kFixture) {
        const QString to = QString::fromStdString(Tmp(rel));
        QDir().mkpath(QFileInfo(to).path());
        ASSERT_TRUE(QFile::copy(from, to));
    }

    std::map<QString, int> Shown() {
        const auto rows = Stats();
        return {rows.begin(), rows.end()};
    }
    // Files in each kind folder, checked against the lines of its index.
    std::map<QString, int> Written() {
        std::map<QString, int> files;
        for (const auto& kind : engine::kKinds) {
            const QDir dir(QString::fromStdString(Tmp(std::string("out/") + kind.folder)));
            QFile index(dir.filePath(QStringLiteral("__index.txt")));
            const int count = dir.entryList(QDir::Files).size() - index.exists();
            EXPECT_EQ(index.open(QIODevice::ReadOnly) ? index.readAll().count("\r\n") : 0, count) << kind.folder;
            files[QString::fromLatin1(kind.label)] = count;
        }
        return files;
    }
    static int Total(const std::map<QString, int>& m) {
        return std::accumulate(m.begin(), m.end(), 0, [](int t, const auto& kv) { return t + kv.second; });
    }
    // A fresh window and output folder for the next row.
    void Fresh() {
        QDir(QString::fromStdString(Tmp("out"))).removeRecursively();
        if (form->CurPage != 0) NewForm();
    }
};

// Each row in a fresh output folder; a 16-bit module gives its resources too.
TEST_F(RealSearch, SingleFileCountsMatchTheFilesWritten) {
    struct Row {
        const char* file;
        QString from;
        int total;
        const char* kind;
        int ofKind;
    };
    for (const Row& row : {Row{"kinds.dll", kFixture, 20, "Web page", 4}, Row{"kinds16.exe", kFixture16, 21, "Bitmap", 10}}) {
        SCOPED_TRACE(row.file);
        Fresh();
        Copy(std::string("in/") + row.file, row.from);
        RunWith("optSearchFile", [&] { SetText("txtFile", Tmp(std::string("in/") + row.file)); });
        const auto shown = Shown();
        EXPECT_EQ(shown, Written());
        EXPECT_EQ(Total(shown), row.total);
        EXPECT_EQ(shown.at(QString::fromLatin1(row.kind)), row.ofKind);
    }
}

// With "Write a gallery page" ticked, the run ends with the page in the
// destination and "Show Resources" opens it; unticked, no page and the folder.
TEST_F(RealSearch, AGalleryPageWhenAskedAndShowResourcesOpensIt) {
    Copy("in/kinds.dll");
    for (const bool gallery : {true, false}) {
        SCOPED_TRACE(gallery ? "ticked" : "not ticked");
        Fresh();
        form->WriteGallery = gallery ? engine::kTrue : engine::kFalse;
        opened.clear();
        RunWith("optSearchFile", [&] { SetText("txtFile", Tmp("in/kinds.dll")); });
        EXPECT_EQ(W<QCheckBox>("chkGallery")->isChecked(), gallery);
        const QString page = QString::fromStdString(Tmp("out/index.html"));
        ASSERT_EQ(QFileInfo::exists(page), gallery);
        Click("cmdShowFolder");
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], gallery ? page : QString::fromStdString(Tmp("out")));
        if (!gallery) continue;
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll().count("<figure"), Total(Written()));
        EXPECT_TRUE(messages.shown.empty());
    }
}

// A kind's folder that turns into a file once the run has begun: the write
// error is said once, naming the path, and the run goes on to its end (the
// name search used to spin on it for ever).
TEST_F(RealSearch, AKindFolderTurnedIntoAFileIsSaidOnceAndTheRunEnds) {
    Copy("in/kinds.dll");
    QObject::connect(form.get(), &wizard::frmMain::RunPhaseChanged, [&](wizard::frmMain::RunPhase p) {
        if (p != wizard::frmMain::RunPhase::Scanning) return;
        QDir(QString::fromStdString(Tmp("out/Bitmaps"))).removeRecursively();
        Put("out/Bitmaps", "not a folder");
    });
    RunWith("optSearchFile", [&] { SetText("txtFile", Tmp("in/kinds.dll")); });
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].prompt, "Path not found: " + Tmp("out/Bitmaps/kinds.dll.bmp"));
    EXPECT_EQ(W<QPushButton>("cmdCancel")->text(), QStringLiteral("&Close"));
}

// A folder search scans every match in reach (with subfolders the bar moves
// with the folders met up to the last file found). The whole system, over a
// fake mount table, is the two fixed drives and not the removable one.
TEST_F(RealSearch, EachModeScansEveryMatchInReach) {
    for (const char* f : {"tree/a.dll", "tree/sub/b.dll", "tree/sub/deeper/c.DLL", "c/x.dll", "d/deep/y.dll", "stick/z.dll"})
        Copy(f);
    Copy("tree/skipped.exe");  // not in the mask
    Put("tree/broken.dll", QByteArray("MZ not really a module"));
    for (const auto& [dev, removable] : {std::pair{"fda", "0"}, std::pair{"fdb", "0"}, std::pair{"fdc", "1"}}) {
        QDir().mkpath(QString::fromStdString(Tmp("sys/class/block/") + dev));
        Put(std::string("sys/class/block/") + dev + "/removable", removable);
    }
    const std::string mounts = "none / tmpfs rw 0 0\n/dev/fda " + Tmp("c") + " ext4 rw 0 0\n/dev/fdc " + Tmp("stick") +
                               " vfat rw 0 0\n/dev/fdb " + Tmp("d") + " ext4 rw 0 0\n";
    Put("mounts", QByteArray::fromStdString(mounts));
    platform::SetDriveSources(Tmp("mounts"), Tmp("sys"));
    for (const auto& [option, sub, total] : {std::tuple{"optSearchFolder", false, 20}, std::tuple{"optSearchFolder", true, 3 * 20},
                                             std::tuple{"optSearchSystem", true, 2 * 20}}) {
        SCOPED_TRACE(testing::Message() << option << (sub ? " with subfolders" : " top folder only"));
        Fresh();
        RunWith(option, [&, sub = sub] {
            SetText("txtFolder", Tmp("tree"));
            W<QCheckBox>("chkSubFolders")->setChecked(sub);
        });
        const auto shown = Shown();
        EXPECT_EQ(shown, Written());
        EXPECT_EQ(Total(shown), total);
        EXPECT_EQ(W<QProgressBar>("prbProgress")->value() > 0, total > 20);
    }
    platform::SetDriveSources("", "");
}

}  // namespace
