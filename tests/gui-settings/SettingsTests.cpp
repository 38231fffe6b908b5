// Settings through the real window, and the pickers behind the "..." buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/MessageBox.h"
#include "platform/RegistryStore.h"
#include "wizard/frmMain.h"
#include "wizard/mDialogFile.h"
#include "wizard/mSettings.h"

namespace {

class Messages : public platform::IMessageBoxService {
public:
    std::vector<std::string> shown;
    platform::MsgResult Show(const std::string& prompt, platform::MsgButtons, platform::MsgIcon) override {
        shown.push_back(prompt);
        return platform::MsgResult::OK;
    }
};

class Dialogs : public wizard::IDialogService {
public:
    std::string answer;
    std::string lastPrompt, lastFilter;
    std::string PickFolder(QWidget*, const std::string& prompt) override {
        lastPrompt = prompt;
        return answer;
    }
    std::string PickFile(QWidget*, const std::string&, const std::string& qtFilter, int32_t, const std::string& title,
                         bool) override {
        lastPrompt = title;
        lastFilter = qtFilter;
        return answer;
    }
};

class Settings : public ::testing::Test {
protected:
    QTemporaryDir store;
    Messages messages;
    Dialogs dialogs;
    void SetUp() override {
        ASSERT_TRUE(store.isValid());
        qputenv("LOOMVALE_REGISTRY", store.path().toUtf8());
        qputenv("WINEPREFIX", (store.path() + "/wine").toUtf8());
        platform::SetMessageBoxService(&messages);
        wizard::SetDialogService(&dialogs);
        wizard::frmMain::SetProgramEndHook([] {});
    }
    void TearDown() override {
        platform::SetMessageBoxService(nullptr);
        wizard::SetDialogService(nullptr);
        wizard::frmMain::SetProgramEndHook(nullptr);
    }
    std::string StoreText() {
        std::ifstream in((store.path() + "/HKEY_LOCAL_MACHINE.reg").toStdString(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(Settings, FirstStartGivesTheDefaultsAndARestartKeepsChanges) {
    QDir().mkpath(store.path() + "/wine/drive_c/windows/system32");
    auto form = std::make_unique<wizard::frmMain>();
    EXPECT_EQ(form->SearchSystem, engine::kTrue);
    EXPECT_EQ(form->FolderPath, (store.path() + "/wine/drive_c/windows/system32").toStdString());
    EXPECT_EQ(form->SubFolders, engine::kTrue);
    EXPECT_EQ(form->FileMask, "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx");
    for (int k = 0; k < engine::kResKindCount; ++k) EXPECT_EQ(form->Types[k], engine::kTrue);
    const std::string docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    EXPECT_EQ(form->DestPath, docs + (docs.empty() || docs.back() != '/' ? "/" : "") + "Resources");
    EXPECT_EQ(form->Priority, 3);

    form->SearchSystem = engine::kFalse;
    form->FolderPath = "/srv/%LV_SETTINGS_TEST%";
    form->SubFolders = engine::kFalse;
    form->FileMask = "*.dll";
    form->Types.Icon = engine::kFalse;
    form->DestPath = "/tmp/out \"q\"";
    form->Priority = 5;
    form->show();
    form->close();
    const std::string text = StoreText();
    EXPECT_NE(text.find("\"SearchSystem\"=dword:00000000\r\n\"Folder\"=hex(2):"), std::string::npos);
    EXPECT_NE(text.find("\"ResTypesBitmap\"=dword:00000001"), std::string::npos) << "True is stored as 1";
    EXPECT_NE(text.find("\"Priority\"=dword:00000005"), std::string::npos);
    EXPECT_TRUE(messages.shown.empty());

    qputenv("LV_SETTINGS_TEST", "data");
    form = std::make_unique<wizard::frmMain>();
    EXPECT_EQ(form->SearchSystem, engine::kFalse);
    EXPECT_EQ(form->FolderPath, "/srv/data") << "expanded on read";
    EXPECT_EQ(form->SubFolders, engine::kFalse);
    EXPECT_EQ(form->FileMask, "*.dll");
    EXPECT_EQ(form->Types.Icon, engine::kFalse);
    EXPECT_EQ(form->Types.Video, engine::kTrue);
    EXPECT_EQ(form->DestPath, "/tmp/out \"q\"");
    EXPECT_EQ(form->Priority, 5);
    form->GoToPage(wizard::frmMain::SearchMode);
    EXPECT_EQ(form->findChild<QLineEdit*>("txtMask")->text(), QStringLiteral("*.dll"));
    EXPECT_EQ(form->findChild<QLineEdit*>("txtFolder")->text(), QStringLiteral("/srv/data"));
}

TEST_F(Settings, AKeyWithoutAValueGivesEmptyNotDefault) {
    std::ofstream((store.path() + "/HKEY_LOCAL_MACHINE.reg").toStdString())
        << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Brackwater\\Loomvale]\r\n"
           "\"Priority\"=\"not a number\"\r\n";
    wizard::frmMain form;
    EXPECT_EQ(form.FileMask, "");
    EXPECT_EQ(form.SearchSystem, engine::kFalse);
    EXPECT_EQ(form.Priority, 3) << "a value of the wrong kind counts as missing";
}

TEST_F(Settings, ASaveErrorIsShownWithItsNumberAndDescription) {
    auto form = std::make_unique<wizard::frmMain>();
    std::ofstream((store.path() + "/file").toStdString()) << "x";
    qputenv("LOOMVALE_REGISTRY", (store.path() + "/file/sub").toUtf8());
    form->show();
    form->close();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0],
              "Run-time error '26001':\r\n\r\nFailed to create registry Key: 'Software\\Brackwater\\Loomvale");
}

TEST_F(Settings, PickersFillTheirBoxOnlyWhenSomethingIsChosen) {
    wizard::frmMain form;
    form.show();
    form.GoToPage(wizard::frmMain::SearchMode);
    auto* folder = form.findChild<QLineEdit*>("txtFolder");
    folder->setText("/kept");
    form.findChild<QRadioButton*>("optSearchFolder")->click();
    dialogs.answer = "";
    QTest::mouseClick(form.findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton);
    EXPECT_EQ(dialogs.lastPrompt, "Choose a folder to start search from.");
    EXPECT_EQ(folder->text(), QStringLiteral("/kept"));
    dialogs.answer = "/chosen";
    QTest::mouseClick(form.findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton);
    EXPECT_EQ(folder->text(), QStringLiteral("/chosen"));

    form.findChild<QRadioButton*>("optSearchFile")->click();
    dialogs.answer = "";
    QTest::mouseClick(form.findChild<QPushButton*>("cmdBrowseFile"), Qt::LeftButton);
    EXPECT_EQ(dialogs.lastPrompt, "Load Program File");
    EXPECT_EQ(dialogs.lastFilter, "Program Files (*.exe *.dll *.ocx)");
    form.close();
}

TEST(FileDialog, FilterIndexFromTheLastFilter) {
    struct Silent : wizard::IDialogService {
        std::string PickFolder(QWidget*, const std::string&) override { return {}; }
        std::string PickFile(QWidget*, const std::string&, const std::string&, int32_t, const std::string&,
                             bool) override {
            return {};
        }
    } silent;
    wizard::SetDialogService(&silent);
    int32_t index = 0;
    wizard::ShowFileDialog(nullptr, "", "Images|*.bmp|Icons|*.ico", index, "t", true);
    EXPECT_EQ(wizard::DialogFilter.size(), 260u);
    EXPECT_EQ(wizard::FilterIndexFromFile("a.ico"), 2);
    EXPECT_EQ(wizard::FilterIndexFromFile("a.bmp"), 1);
    EXPECT_EQ(wizard::FilterIndexFromFile("a.txt"), 1) << "nothing fits: the first entry";
    wizard::ShowFileDialog(nullptr, "x.jpeg", "Icons|*.ico|Photos (*.jpeg)|*.jpeg;*.jpg", index, "t", false);
    EXPECT_EQ(index, 2) << "taken from the initial file when the index is 0";
    EXPECT_EQ(wizard::QtFilterFromDialogFilter(wizard::DialogFilter), "Icons (*.ico);;Photos (*.jpeg *.jpg)");
    wizard::SetDialogService(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
