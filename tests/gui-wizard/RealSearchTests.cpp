// Whole runs through the window with the real engine and search: copies of
// the fixture module in a tree, each search mode, and the counts on the
// progress page against the files the engine wrote.
#include "WizardHarness.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QTreeWidget>

#include <map>

#include "platform/Drives.h"

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
    void Put(const std::string& rel, const QByteArray& bytes) {
        QFile f(QString::fromStdString(Tmp(rel)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    std::map<QString, int> Shown() {
        std::map<QString, int> rows;
        auto* list = W<QTreeWidget>("lvResStats");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows[list->topLevelItem(i)->text(0)] = list->topLevelItem(i)->text(1).toInt();
        return rows;
    }
    // Files in each kind folder, checked against the lines of its index.
    std::map<QString, int> Written() {
        std::map<QString, int> files;
        for (const auto& kind : engine::kKinds) {
            QDir dir(QString::fromStdString(Tmp(std::string("out/") + kind.folder)));
            const QStringList names = dir.entryList(QDir::Files);
            int count = 0;
            for (const QString& n : names)
                if (n != QStringLiteral("__index.txt")) ++count;
            QFile index(dir.filePath(QStringLiteral("__index.txt")));
            int lines = 0;
            if (index.open(QIODevice::ReadOnly)) lines = index.readAll().count("\r\n");
            EXPECT_EQ(lines, count) << kind.folder;
            files[QString::fromLatin1(kind.label)] = count;
        }
        return files;
    }
    int Total(const std::map<QString, int>& m) {
        int t = 0;
        for (const auto& [k, v] : m) t += v;
        return t;
    }
};

TEST_F(RealSearch, SingleFileCountsMatchTheFilesWritten) {
    Copy("in/kinds.dll");
    RunWith("optSearchFile", [&] { W<QLineEdit>("txtFile")->setText(QString::fromStdString(Tmp("in/kinds.dll"))); });
    const auto shown = Shown();
    EXPECT_EQ(shown, Written());
    EXPECT_EQ(Total(shown), 20);
    EXPECT_EQ(shown.at(QStringLiteral("Web page")), 4);
}

TEST_F(RealSearch, SixteenBitModuleGivesItsResources) {
    Copy("in/kinds16.exe", kFixture16);
    RunWith("optSearchFile", [&] { W<QLineEdit>("txtFile")->setText(QString::fromStdString(Tmp("in/kinds16.exe"))); });
    const auto shown = Shown();
    EXPECT_EQ(shown, Written());
    EXPECT_EQ(Total(shown), 21);
    EXPECT_EQ(shown.at(QStringLiteral("Bitmap")), 10);
}

TEST_F(RealSearch, FolderWithSubfoldersScansEveryMatchAndFillsTheBar) {
    Copy("tree/a.dll");
    Copy("tree/sub/b.dll");
    Copy("tree/sub/deeper/c.DLL");
    Copy("tree/skipped.exe");  // not in the mask
    Put("tree/broken.dll", QByteArray("MZ not really a module"));
    RunWith("optSearchFolder", [&] {
        W<QLineEdit>("txtFolder")->setText(QString::fromStdString(Tmp("tree")));
        W<QCheckBox>("chkSubFolders")->setChecked(true);
    });
    const auto shown = Shown();
    EXPECT_EQ(shown, Written());
    EXPECT_EQ(Total(shown), 3 * 20);
    // The bar moves with the folders met up to the last file found.
    EXPECT_GT(W<QProgressBar>("prbProgress")->value(), 0);
}

TEST_F(RealSearch, FolderWithoutSubfoldersStaysOnTop) {
    Copy("tree/a.dll");
    Copy("tree/sub/b.dll");
    RunWith("optSearchFolder", [&] {
        W<QLineEdit>("txtFolder")->setText(QString::fromStdString(Tmp("tree")));
        W<QCheckBox>("chkSubFolders")->setChecked(false);
    });
    EXPECT_EQ(Total(Shown()), 20);
    EXPECT_EQ(Shown(), Written());
}

// The whole system over a fake mount table: two fixed drives and a
// removable one that must not be searched.
TEST_F(RealSearch, WholeSystemSearchesTheFixedDrivesOnly) {
    Copy("c/x.dll");
    Copy("d/deep/y.dll");
    Copy("stick/z.dll");
    QDir().mkpath(QString::fromStdString(Tmp("sys/class/block/fda")));
    QDir().mkpath(QString::fromStdString(Tmp("sys/class/block/fdb")));
    QDir().mkpath(QString::fromStdString(Tmp("sys/class/block/fdc")));
    Put("sys/class/block/fda/removable", "0");
    Put("sys/class/block/fdb/removable", "0");
    Put("sys/class/block/fdc/removable", "1");
    const std::string mounts = "/dev/fda " + Tmp("c") + " ext4 rw 0 0\n/dev/fdc " + Tmp("stick") +
                               " vfat rw 0 0\n/dev/fdb " + Tmp("d") + " ext4 rw 0 0\n";
    Put("mounts", QByteArray::fromStdString(mounts));
    platform::SetDriveSources(Tmp("mounts"), Tmp("sys"));
    RunWith("optSearchSystem", [] {});
    platform::SetDriveSources("", "");
    const auto shown = Shown();
    EXPECT_EQ(shown, Written());
    EXPECT_EQ(Total(shown), 2 * 20);
    EXPECT_GT(W<QProgressBar>("prbProgress")->value(), 0);
}

}  // namespace
