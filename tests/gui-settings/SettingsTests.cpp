// Settings through the real window, and the pickers behind the "..." buttons.
#include <gtest/gtest.h>

#include <QApplication>
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

#include "platform/MessageBox.h"
#include "wizard/frmMain.h"
#include "wizard/mDialogFile.h"

namespace {

class Fakes : public platform::IMessageBoxService, public wizard::IDialogService {
public:
    std::vector<std::string> shown;
    std::string answer, lastPrompt, lastFilter;
    platform::MsgResult Show(const std::string& prompt, platform::MsgButtons, platform::MsgIcon) override {
        return shown.push_back(prompt), platform::MsgResult::OK;
    }
    std::string PickFolder(QWidget*, const std::string& prompt) override { return lastPrompt = prompt, answer; }
    std::string PickFile(QWidget*, const std::string&, const std::string& qtFilter, int32_t, const std::string& title,
                         bool) override {
        return lastPrompt = title, lastFilter = qtFilter, answer;
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

    form->SearchSystem = form->SubFolders = form->Types.Icon = engine::kFalse;
    form->FolderPath = "/srv/%LV_SETTINGS_TEST%";
    form->FileMask = "*.dll";
    form->DestPath = "/tmp/out \"q\"";
    form->Priority = 5;
    form->show();
    form->close();
    std::ifstream in(StorePath(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(text.find("\"ResTypesBitmap\"=dword:00000001"), std::string::npos) << "True is stored as 1";

    qputenv("LV_SETTINGS_TEST", "data");
    form = std::make_unique<wizard::frmMain>();
    EXPECT_EQ(Fields(*form), std::make_tuple(engine::kFalse, "/srv/data", engine::kFalse, "*.dll", engine::kFalse,
                                             engine::kTrue, "/tmp/out \"q\"", 5));  // the folder expanded on read
    form->GoToPage(wizard::frmMain::SearchMode);
    EXPECT_EQ(form->findChild<QLineEdit*>("txtFolder")->text(), QStringLiteral("/srv/data"));

    // A store that cannot be written: the error shows with its number.
    std::ofstream((store.path() + "/file").toStdString()) << "x";
    qputenv("LOOMVALE_REGISTRY", (store.path() + "/file/sub").toUtf8());
    form->close();
    EXPECT_EQ(fakes.shown, std::vector<std::string>{"Run-time error '26001':\r\n\r\nFailed to create registry Key: "
                                                    "'Software\\Brackwater\\Loomvale"});
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
        EXPECT_EQ(folder->text(), QString(*answer ? answer : "/kept"));
    }
    form.findChild<QRadioButton*>("optSearchFile")->click();
    QTest::mouseClick(form.findChild<QPushButton*>("cmdBrowseFile"), Qt::LeftButton);
    EXPECT_EQ(fakes.lastPrompt, "Load Program File");
    EXPECT_EQ(fakes.lastFilter, "Program Files (*.exe *.dll *.ocx)");

    // The filter index comes from the last filter, or from the initial file when it is 0.
    int32_t index = 0;
    wizard::ShowFileDialog(nullptr, "", "Images|*.bmp|Icons|*.ico", index, "t", true);
    EXPECT_EQ(wizard::FilterIndexFromFile("a.ico"), 2);
    EXPECT_EQ(wizard::FilterIndexFromFile("a.txt"), 1) << "nothing fits: the first entry";
    wizard::ShowFileDialog(nullptr, "x.jpeg", "Icons|*.ico|Photos (*.jpeg)|*.jpeg;*.jpg", index, "t", false);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(wizard::QtFilterFromDialogFilter(wizard::DialogFilter), "Icons (*.ico);;Photos (*.jpeg *.jpg)");
}

}  // namespace
