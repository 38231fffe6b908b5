// The option pages: enabling rules, the advanced frames, the slider and
// every check with its message and focus.
#include "WizardHarness.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QSlider>

#include <tuple>

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

class OptionPages : public WizardTest {
protected:
    void ToPage(int page) {
        while (form->CurPage < page) Click("cmdNext");
        ASSERT_EQ(form->CurPage, page);
    }
    void ExpectEnabled(bool folder, bool file) {
        for (const char* name : {"txtFolder", "cmdBrowse", "chkSubFolders"}) EXPECT_EQ(W(name)->isEnabled(), folder) << name;
        for (const char* name : {"txtFile", "cmdBrowseFile"}) EXPECT_EQ(W(name)->isEnabled(), file) << name;
        EXPECT_TRUE(W("txtMask")->isEnabled() && W("sldAccel")->isEnabled());
    }
    bool IsDir(const std::string& p) { return QFileInfo(QString::fromStdString(p)).isDir(); }
};

TEST_F(OptionPages, EnablingRulesFollowTheOptionAndSingleFileIsNotRemembered) {
    ToPage(1);
    EXPECT_TRUE(W<QRadioButton>("optSearchSystem")->isChecked());
    ExpectEnabled(false, false);
    for (const auto& [option, folder, file] : {std::tuple{"optSearchFolder", true, false}, std::tuple{"optSearchFile", false, true},
                                               std::tuple{"optSearchSystem", false, false}}) {
        SCOPED_TRACE(option);
        Choose(option);
        ExpectEnabled(folder, file);
    }

    Choose("optSearchFile");
    Click("cmdNext");  // neither the file nor the mask is checked
    EXPECT_EQ(form->CurPage, 2);
    EXPECT_EQ(form->SearchFile, engine::kTrue);
    EXPECT_EQ(form->SearchSystem, engine::kFalse);
    Click("cmdBack");
    EXPECT_TRUE(W<QRadioButton>("optSearchFolder")->isChecked());
    ExpectEnabled(true, false);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(OptionPages, AdvancedShowsTheFramesForGood) {
    ToPage(1);
    EXPECT_FALSE(W("fraMask")->isVisible() || W("fraPerformance")->isVisible());
    EXPECT_EQ(W<QPushButton>("cmdAdvanced")->text(), QStringLiteral("A&dvanced >>"));
    Click("cmdAdvanced");
    EXPECT_FALSE(W("cmdAdvanced")->isVisible());
    EXPECT_TRUE(W("fraMask")->isVisible() && W("fraPerformance")->isVisible());
    EXPECT_EQ(W<QGroupBox>("fraMask")->title(), QStringLiteral("Search mask"));
    EXPECT_EQ(W<QGroupBox>("fraPerformance")->title(), QStringLiteral("Acceleration"));
    Click("cmdNext");
    Click("cmdBack");
    EXPECT_TRUE(W("fraMask")->isVisible());
}

TEST_F(OptionPages, SliderNamesEachPositionAndPageOneTakesItsFields) {
    form->Priority = 4;
    ToPage(1);
    auto* slider = W<QSlider>("sldAccel");
    EXPECT_EQ(slider->value(), 4);
    EXPECT_EQ(Text("lblPriority"), QStringLiteral("High"));
    const char* names[] = {"Lowest", "Low", "Normal", "High", "Highest"};
    for (int pos = 1; pos <= 5; ++pos) {
        slider->setValue(pos);
        EXPECT_EQ(Text("lblPriority"), QString::fromLatin1(names[pos - 1])) << pos;
        EXPECT_EQ(form->Priority, pos);
    }
    // A stored position of 0 (no value in the store) still names a position.
    Click("cmdBack");
    form->Priority = 0;
    Click("cmdNext");
    EXPECT_EQ(slider->value(), 1);
    EXPECT_EQ(form->Priority, 1);

    Choose("optSearchFolder");
    SetText("txtFolder", Tmp(""));
    W<QCheckBox>("chkSubFolders")->setChecked(false);
    SetText("txtMask", "*.dll");
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 2);
    EXPECT_EQ(form->SearchSystem, engine::kFalse);
    EXPECT_EQ(form->SubFolders, engine::kFalse);
    EXPECT_EQ(form->FileMask, "*.dll");
    EXPECT_EQ(form->FolderPath, Tmp(""));
}

// Each bad entry holds its page, forward and back, with its message and the
// focus on the field to mend.
TEST_F(OptionPages, BadEntriesHoldThePageWithTheirMessage) {
    const std::string noFolder = "The folder could not be found.\r\nPlease specify a valid folder.",
                      noType = "Please choose at least one resource type.",
                      badDest = "The specified folder is invalid.\r\nPlease type another name.";
    Put("file.txt", "");
    const struct {
        int page;
        const char *field, *button;
        std::string text;  // typed into the field; "-" unticks every type
        const std::string& message;
    } rows[] = {{1, "txtFolder", "cmdNext", "", noFolder},
                {1, "txtFolder", "cmdBack", Tmp("nowhere"), noFolder},
                {1, "txtFolder", "cmdBack", Tmp("file.txt"), noFolder},
                {2, "lvResTypes", "cmdNext", "-", noType},
                {2, "lvResTypes", "cmdBack", "-", noType},
                {3, "txtDestPath", "cmdNext", Tmp("a/b/c"), badDest}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "page " << row.page << " " << row.button << " '" << row.text << "'");
        if (form->CurPage != row.page) NewForm();
        ToPage(row.page);
        if (row.page == 1) Choose("optSearchFolder");
        if (row.text == "-") {
            for (int i = 0; i < 6; ++i) W<QListWidget>("lvResTypes")->item(i)->setCheckState(Qt::Unchecked);
        } else {
            SetText(row.field, row.text);
        }
        messages.shown.clear();
        Click(row.button);
        EXPECT_EQ(form->CurPage, row.page);
        ExpectOneMessage(row.message, MsgButtons::OK, MsgIcon::Critical);
        EXPECT_EQ(Focused(), W(row.field));
    }
    EXPECT_FALSE(IsDir(Tmp("a")));
    // All hard drives with an empty folder text moves on unchecked.
    NewForm();
    ToPage(1);
    W<QLineEdit>("txtFolder")->clear();
    messages.shown.clear();
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 2);
    EXPECT_TRUE(messages.shown.empty());
    // An empty destination means the root folder, which exists: the question comes.
    ToPage(3);
    SetText("txtDestPath", "");
    messages.shown.clear();
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 3);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].buttons, MsgButtons::YesNo);
}

TEST_F(OptionPages, TypeListInKindOrderAndEachTickTaken) {
    ToPage(2);
    auto* list = W<QListWidget>("lvResTypes");
    ASSERT_EQ(list->count(), 6);
    const char* labels[] = {"Bitmap", "Icon", "Cursor", "Animated cursor", "Video (AVI)", "Web page"};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(labels[i]);
        EXPECT_EQ(list->item(i)->text(), QString::fromLatin1(labels[i]));
        EXPECT_FALSE(list->item(i)->icon().isNull());
        EXPECT_EQ(list->item(i)->checkState(), Qt::Checked);  // first start: all ticked
        list->item(i)->setCheckState(i == 4 ? Qt::Checked : Qt::Unchecked);
    }
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 3);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(form->Types[i], i == 4 ? engine::kTrue : engine::kFalse) << labels[i];
}

TEST_F(OptionPages, FreshDestinationGetsOnlyTheChosenTypeFolders) {
    ToPage(2);
    auto* list = W<QListWidget>("lvResTypes");
    for (int i = 0; i < 6; ++i) list->item(i)->setCheckState(i == 1 ? Qt::Checked : Qt::Unchecked);
    Click("cmdNext");
    SetText("txtDestPath", Tmp("fresh"));
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 4);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(QDir(QString::fromStdString(Tmp("fresh"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("Icons")});
}

TEST_F(OptionPages, ExistingDestinationAsksEveryTimeAndKeepsWhatIsThere) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Tmp("old/Icons"))));
    Put("old/Icons/kept.ico", "x");
    ToPage(3);
    SetText("txtDestPath", Tmp("old/"));  // a trailing separator is not doubled
    messages.answers = {MsgResult::No};
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 3);
    ExpectOneMessage("The specified folder already exists.\r\nDo you want to continue?", MsgButtons::YesNo, MsgIcon::Exclamation);
    EXPECT_EQ(Focused(), W("txtDestPath"));
    EXPECT_FALSE(IsDir(Tmp("old/Bitmaps")));

    messages.answers = {MsgResult::Yes};
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 4);
    for (const char* f : {"Bitmaps", "Icons", "Cursors", "Animated Cursors", "Videos", "Web pages"})
        EXPECT_TRUE(IsDir(Tmp("old/") + f)) << f;
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(Tmp("old/Icons/kept.ico"))));

    // A second visit asks again.
    Click("cmdBack");
    messages.shown.clear();
    messages.answers = {MsgResult::Yes};
    Click("cmdBack");
    EXPECT_EQ(form->CurPage, 2);
    EXPECT_EQ(messages.shown.size(), 1u);

    // A file where a kind's folder goes could take none of its resources.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Tmp("clash"))));
    Put("clash/Icons", "x");
    Click("cmdNext");
    SetText("txtDestPath", Tmp("clash"));
    messages.shown.clear();
    messages.answers = {MsgResult::Yes};
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 3);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].prompt, "The specified folder is invalid.\r\nPlease type another name.");
    EXPECT_EQ(Focused(), W("txtDestPath"));
}

}  // namespace
