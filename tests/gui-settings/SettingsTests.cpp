// Settings through the real window, and the pickers behind the "..." buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <iterator>
#include <memory>
#include <tuple>

#include "platform/system/MessageBox.h"
#include "wizard/frmMain.h"
#include "wizard/mDialogFile.h"

namespace {

class Fakes : public platform::IMessageBoxService, public wizard::IDialogService {
public:
    std::vector<std::string> shown;
    std::string answer, lastPrompt;
    std::vector<wizard::FileFilter> lastFilters;
    int32_t lastSelected = 0;
    platform::MsgResult Show(const std::string& prompt, platform::MsgButtons, platform::MsgIcon) override {
        return shown.push_back(prompt), platform::MsgResult::OK;
    }
    std::string PickFolder(QWidget*, const std::string& prompt) override { return lastPrompt = prompt, answer; }
    std::string PickFile(QWidget*, const std::string&, const std::vector<wizard::FileFilter>& filters, int32_t selected,
                         const std::string& title, bool) override {
        return lastPrompt = title, lastFilters = filters, lastSelected = selected, answer;
    }
};

auto Fields(const wizard::frmMain& f) {
    return std::make_tuple(f.SearchSystem, f.FolderPath, f.SubFolders, f.FileMask, f.Types.Icon, f.Types.Video,
                           f.DestPath, f.Priority);
}

class Settings : public ::testing::Test {
protected:
    QTemporaryDir store;
    Fakes fakes;
    void SetUp() override {
        qputenv("LOOMVALE_REGISTRY", store.path().toUtf8());
        qputenv("WINEPREFIX", (store.path() + "/wine").toUtf8());
        platform::SetMessageBoxService(&fakes);
        wizard::SetDialogService(&fakes);
        wizard::frmMain::SetProgramEndHook([] {});
    }
    void TearDown() override {
        platform::SetMessageBoxService(nullptr);
        wizard::SetDialogService(nullptr);
        wizard::frmMain::SetProgramEndHook(nullptr);
    }
    std::string StorePath() const { return (store.path() + "/HKEY_LOCAL_MACHINE.reg").toStdString(); }
};

TEST_F(Settings, FirstStartGivesTheDefaultsARestartKeepsChangesAndSaveErrorsShow) {
    const std::string system32 = (store.path() + "/wine/drive_c/windows/system32").toStdString();
    QDir().mkpath(QString::fromStdString(system32));
    const std::string docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    auto form = std::make_unique<wizard::frmMain>();
    EXPECT_EQ(Fields(*form),
              std::make_tuple(engine::kTrue, system32, engine::kTrue, "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx",
                              engine::kTrue, engine::kTrue,
                              docs + (docs.empty() || docs.back() != '/' ? "/" : "") + "Resources", 3));
    for (int k = 0; k < engine::kResKindCount; ++k) EXPECT_EQ(form->Types[k], engine::kTrue);
    EXPECT_EQ(form->WriteGallery, engine::kFalse);

    form->SearchSystem = form->SubFolders = form->Types.Icon = engine::kFalse;
    form->FolderPath = "/srv/%LV_SETTINGS_TEST%";
    form->FileMask = "*.dll";
    form->DestPath = "/tmp/out \"q\"";
    form->Priority = 5;
    form->WriteGallery = engine::kTrue;
    form->show();
    form->close();
    std::ifstream in(StorePath(), std::ios::binary);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(in), {}).find("\"ResTypesBitmap\"=dword:00000001"), std::string::npos)
        << "True is stored as 1";

    qputenv("LV_SETTINGS_TEST", "data");
    form = std::make_unique<wizard::frmMain>();
    EXPECT_EQ(Fields(*form), std::make_tuple(engine::kFalse, "/srv/data", engine::kFalse, "*.dll", engine::kFalse,
                                             engine::kTrue, "/tmp/out \"q\"", 5));  // the folder expanded on read
    EXPECT_EQ(form->WriteGallery, engine::kTrue);
    form->GoToPage(wizard::frmMain::SearchMode);
    EXPECT_EQ(form->findChild<QLineEdit*>("txtFolder")->text(), QStringLiteral("/srv/data"));

    // A store that cannot be written: the error shows with its number.
    std::ofstream((store.path() + "/file").toStdString()) << "x";
    qputenv("LOOMVALE_REGISTRY", (store.path() + "/file/sub").toUtf8());
    form->close();
    EXPECT_EQ(fakes.shown, std::vector<std::string>{"Run-time error '26001':\r\n\r\nFailed to create registry Key: "
                                                    "'Software\\Brackwater\\Loomvale"});
}

// A damaged store set aside at start is said once in a box; a save that
// fails while the session ends goes to standard error, never to a box that
// would wait for a click.
TEST_F(Settings, DamagedStoreIsSaidAndAnEndingSessionNeverWaitsForAClick) {
    std::ofstream(StorePath()) << "not a settings file";
    auto form = std::make_unique<wizard::frmMain>();
    EXPECT_EQ(fakes.shown, std::vector<std::string>{"The settings file could not be read. It was kept as\r\n" +
                                                    StorePath() + ".corrupt\r\nand the default settings are used."});
    EXPECT_EQ(form->Priority, 3);
    fakes.shown.clear();
    std::ofstream((store.path() + "/file").toStdString()) << "x";
    qputenv("LOOMVALE_REGISTRY", (store.path() + "/file/sub").toUtf8());
    testing::internal::CaptureStderr();
    form->EndSession();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(form->Unloaded());
    EXPECT_TRUE(fakes.shown.empty());
    EXPECT_NE(err.find("Run-time error '26001'"), std::string::npos) << err;
    form = std::make_unique<wizard::frmMain>();
    EXPECT_TRUE(fakes.shown.empty()) << "said once";
}

TEST_F(Settings, AKeyWithoutAValueGivesEmptyNotDefault) {
    std::ofstream(StorePath())
        << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Brackwater\\Loomvale]\r\n"
           "\"Priority\"=\"not a number\"\r\n";
    wizard::frmMain form;
    EXPECT_EQ(std::make_tuple(form.FileMask, form.SearchSystem, form.Priority), std::make_tuple("", engine::kFalse, 3))
        << "no \"Mask\" value: empty; a value of the wrong kind: the default";
}

TEST_F(Settings, PickersFillTheirBoxOnlyWhenSomethingIsChosenAndKeepTheFilter) {
    wizard::frmMain form;
    form.show();
    auto* folder = form.findChild<QLineEdit*>("txtFolder");
    folder->setText("/kept");
    form.findChild<QRadioButton*>("optSearchFolder")->click();
    for (const char* answer : {"", "/chosen"}) {
        fakes.answer = answer;
        QTest::mouseClick(form.findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton);
        EXPECT_EQ(fakes.lastPrompt, "Choose a folder to start search from.");
        EXPECT_EQ(folder->text(), QString(*answer ? answer : "/kept")) << "answer '" << answer << "'";
    }
    form.findChild<QRadioButton*>("optSearchFile")->click();
    QTest::mouseClick(form.findChild<QPushButton*>("cmdBrowseFile"), Qt::LeftButton);
    EXPECT_EQ(fakes.lastPrompt, "Load Program File");
    // Shown as written, with the patterns it stands for.
    EXPECT_EQ(std::make_pair(fakes.lastFilters, fakes.lastSelected),
              std::make_pair(std::vector<wizard::FileFilter>{{"Program Files (*.exe;*.dll;*.ocx)", {"*.exe", "*.dll", "*.ocx"}}}, 1));
}

TEST_F(Settings, FilterIndexComesFromAWholePatternEntry) {
    const std::string longName(300, 'x');  // 260 characters or more: two NULs appended, no padding
    const struct {
        std::string filter, file;
        int32_t index;
    } cases[] = {
        {"Images|*.bmp|Icons|*.ico", "a.ico", 2},
        {"Images|*.bmp|Icons|*.ico", "a.bmp", 1},
        {"Icons|*.ico|Photos|*.jpeg", "x.jpeg", 2},  // a four-letter extension
        {"Icons|*.ico|Photos|*.jpeg", "jpeg", 2},    // no dot: the last four characters all the same
        // Nothing matches: every NUL is counted, padding included. 3 separators
        // and 236 padding NULs give 239 / 2 + 1.
        {"Images|*.bmp|Icons|*.ico", "A.ICO", 120},  // compared exactly
        {"Images|*.bmp|Icons|*.ico", "a.icon", 120},
        {"Photos|*.jpeg;*.jpg|Icons|*.ico", "x.jpeg", 117},  // a list is not a whole entry: 232 NULs
        {"Icons|*.ico", "", 126},                            // the pattern "*." fits nothing: 250 NULs
        {longName + "|*.ico", "a.ico", 1},
        {longName + "|*.ico", "a.txt", 2},  // 1 separator and 2 NULs
    };
    for (const auto& c : cases) {
        int32_t index = 1;
        wizard::ShowFileDialog(nullptr, "", c.filter, index, "t", true);
        EXPECT_EQ(wizard::FilterIndexFromFile(c.file), c.index) << c.filter.substr(0, 40) << " / " << c.file;
    }
    // Without a filter index the initial file chooses it.
    int32_t index = 0;
    wizard::ShowFileDialog(nullptr, "x.ico", "Images|*.bmp|Icons|*.ico", index, "t", false);
    EXPECT_EQ(std::make_pair(index, fakes.lastSelected), std::make_pair(2, 2));
    EXPECT_EQ(fakes.lastFilters,
              (std::vector<wizard::FileFilter>{{"Images", {"*.bmp"}}, {"Icons", {"*.ico"}}}));
    wizard::DialogFilter.clear();
    EXPECT_EQ(wizard::FilterIndexFromFile("a.ico"), 1) << "no dialog shown yet";
}

// The real dialog: the entry shows as written and the list holds only the files of its patterns.
TEST_F(Settings, FileDialogListsTheFilesOfTheChosenEntry) {
    QTemporaryDir dir;
    for (const char* name : {"a.exe", "B.DLL", "c.ocx", "d.txt", "e.exe.txt"})
        std::ofstream((dir.path() + "/" + name).toStdString()) << "x";
    const std::vector<wizard::FileFilter> filters{{"Program Files (*.exe;*.dll;*.ocx)", {"*.exe", "*.dll", "*.ocx"}},
                                                  {"Text", {"*.txt"}}};
    std::unique_ptr<QFileDialog> dialog(
        wizard::MakeFileDialog(nullptr, dir.path().toStdString(), filters, 1, "Load Program File", true));
    dialog->show();
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_TRUE(combo && model);
    EXPECT_EQ(combo->currentText() + " / " + dialog->windowTitle(),
              QStringLiteral("Program Files (*.exe;*.dll;*.ocx) / Load Program File"));
    auto listed = [&] {
        QStringList names;
        const QModelIndex root = model->index(dir.path());
        for (int i = 0; i < model->rowCount(root); ++i) names << model->index(i, 0, root).data().toString();
        names.sort();
        return names;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList{"B.DLL", "a.exe", "c.ocx"}; }))
        << listed().join(' ').toStdString();
    // Choosing the other entry in the box lists its files instead.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    ASSERT_EQ(combo->currentIndex(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList{"d.txt", "e.exe.txt"}; }))
        << listed().join(' ').toStdString();
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
}

}  // namespace
