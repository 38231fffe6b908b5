// Walking the wizard: pages, buttons, titles, closing.
#include "WizardHarness.h"

#include "platform/fs/Drives.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QListWidget>
#include <QDir>
#include <QProgressBar>
#include <QStackedWidget>

#include <map>

#include <tuple>

using platform::MsgResult;

namespace {

class Navigation : public WizardTest {
protected:
    int Shown() { return W<QStackedWidget>("fraScreen")->currentIndex(); }
    void ExpectPage(int page, const char* title) {
        EXPECT_EQ(form->CurPage, page);
        EXPECT_EQ(Shown(), page);
        EXPECT_EQ(W("fraScreenHdr")->isVisible(), page >= 1 && page <= 5);
        EXPECT_EQ(Text("lblScrnTitle"), QString::fromUtf8(title));
    }
};

TEST_F(Navigation, WalksForwardAndBackWithTitlesAndButtonRules) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Loomvale ") + QStringLiteral(LOOMVALE_VERSION));
    EXPECT_EQ(form->windowTitle().count(QLatin1Char('.')), 2);
    ExpectPage(0, "");
    EXPECT_FALSE(W("fraWatermark")->isVisible());
    for (const auto& [name, text, enabled] : {std::tuple{"cmdBack", "< &Back", false}, std::tuple{"cmdNext", "&Next >", true},
                                              std::tuple{"cmdCancel", "Cancel", true}}) {
        EXPECT_EQ(W<QPushButton>(name)->text(), QString::fromLatin1(text)) << name;
        EXPECT_EQ(W(name)->isEnabled(), enabled) << name;
    }
    const char* pages[][2] = {{"Search mode", "Specify here where the search should take place."},  // all drives: nothing checked
                              {"Resource types", "Check the resource types you are looking for."},
                              {"Destination", "Please choose a destination folder for the resources."},
                              {"Ready", "Loomvale is ready to search."}};
    for (int page = 1; page <= 4; ++page) {
        SCOPED_TRACE(pages[page - 1][0]);
        Click("cmdNext");
        ExpectPage(page, pages[page - 1][0]);
        EXPECT_EQ(Text("lblScrnSubTitle"), QString::fromLatin1(pages[page - 1][1]));
        EXPECT_TRUE(W("cmdBack")->isEnabled());
    }
    EXPECT_EQ(W<QPushButton>("cmdNext")->text(), QStringLiteral("&Start"));
    EXPECT_TRUE(messages.shown.empty());

    // Back from the ready page: destination again, "&Next >" again; leaving
    // the destination a second time asks about the existing folder.
    Click("cmdBack");
    ExpectPage(3, "Destination");
    EXPECT_EQ(W<QPushButton>("cmdNext")->text(), QStringLiteral("&Next >"));
    messages.answers = {MsgResult::Yes};
    Click("cmdBack");
    ExpectPage(2, "Resource types");
    ASSERT_EQ(messages.shown.size(), 1u);
    Click("cmdBack");
    Click("cmdBack");
    ExpectPage(0, "");
    EXPECT_FALSE(W("cmdBack")->isEnabled());
    EXPECT_EQ(programEnds, 0);
    form->GoToPage(-1);  // changes nothing visible
    EXPECT_EQ(form->CurPage, -1);
    EXPECT_EQ(Shown(), 0);
}

TEST_F(Navigation, RunPageLocksTheWayBackAndFinishPageCloses) {
    Put("mounts", "none / tmpfs rw 0 0\n");  // all drives, of which there are none fixed
    platform::SetDriveSources(Tmp("mounts"), Tmp("sys"));
    for (int i = 0; i < 4; ++i) Click("cmdNext");
    ASSERT_EQ(form->CurPage, 4);
    Click("cmdNext");  // "Start": the run ends on the finish page
    platform::SetDriveSources("", "");
    ExpectPage(6, "");
    EXPECT_FALSE(W("cmdBack")->isEnabled());
    EXPECT_FALSE(W("cmdNext")->isEnabled());
    EXPECT_EQ(W<QPushButton>("cmdNext")->text(), QStringLiteral("&Start"));
    EXPECT_TRUE(W("fraWatermark")->isVisible());
    EXPECT_EQ(W<QPushButton>("cmdCancel")->text(), QStringLiteral("&Close"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Loomvale"));
    // One past the finish page closes the window as Cancel does.
    form->GoToPage(7);
    EXPECT_TRUE(form->Unloaded());
    EXPECT_EQ(programEnds, 1);
}

TEST_F(Navigation, CancelOrEscapeOutsideTheRunClosesAtOnceAndOnlyOnce) {
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel");
        if (escape) programEnds = 0, NewForm();
        Click("cmdNext");
        if (escape) QTest::keyClick(form.get(), Qt::Key_Escape);
        else Click("cmdCancel");
        EXPECT_TRUE(messages.shown.empty());
        EXPECT_TRUE(form->Unloaded());
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(programEnds, 1);
        form->close();
        form->GoToPage(2);
        EXPECT_EQ(programEnds, 1);
        EXPECT_EQ(form->CurPage, 1);
    }
}

// The whole walk by keyboard alone: each page opens with the focus on a
// control of its own, Return presses the default button ("Next >", "Start",
// then "Close"), no two buttons of a page share an access key, and a screen
// reader finds a name for every control and a frame for the window.
TEST_F(Navigation, KeyboardAndScreenReaderWalkTheWizard) {
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(form.get());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    Put("mounts", "none / tmpfs rw 0 0\n");  // all drives, none of them fixed: a quick run
    platform::SetDriveSources(Tmp("mounts"), Tmp("sys"));
    form->SearchSystem = engine::kTrue;
    form->DestPath = Tmp("out");
    for (int page : {0, 1, 2, 3, 4, 6}) {  // "Start" runs the search within the key press
        SCOPED_TRACE(testing::Message() << "page " << page);
        ASSERT_EQ(form->CurPage, page);
        QWidget* focus = Focused();
        ASSERT_NE(focus, nullptr);
        EXPECT_TRUE(focus->isVisible() && focus->isEnabled()) << focus->objectName().toStdString();
        std::map<QChar, QString> keys;
        for (QWidget* w : form->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            if (auto* b = qobject_cast<QAbstractButton*>(w)) {
                const QKeySequence key = QKeySequence::mnemonic(b->text());
                if (b->text().endsWith(QStringLiteral("...")) || b->objectName() == QStringLiteral("cmdCancel")) {
                    // "..." and Cancel (Esc) need none
                } else if (key.isEmpty()) {
                    ADD_FAILURE() << "no access key: " << b->text().toStdString();
                } else {
                    const QChar c = b->text().at(b->text().indexOf('&') + 1).toLower();
                    EXPECT_TRUE(keys.emplace(c, b->text()).second) << b->text().toStdString() << " and " << keys[c].toStdString();
                }
            }
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QAbstractItemView*>(w) || qobject_cast<QProgressBar*>(w);
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (control && a) {
                const QString name = a->text(QAccessible::Name);
                EXPECT_FALSE(name.isEmpty() || name == QStringLiteral("...")) << w->objectName().toStdString() << " '"
                                                                              << name.toStdString() << "'";
            }
        }
        if (page == 2) {  // the kinds are check boxes whose Toggle changes the check, not the selection
            auto* list = W<QListWidget>("lvResTypes");
            QAccessibleInterface* kinds = QAccessible::queryAccessibleInterface(list);
            ASSERT_EQ(kinds->childCount(), 6);
            QAccessibleInterface* icon = kinds->child(1);
            EXPECT_EQ(icon->role(), QAccessible::CheckBox);
            EXPECT_EQ(icon->text(QAccessible::Name), QStringLiteral("Icon"));
            EXPECT_EQ(kinds->indexOfChild(icon), 1);
            const bool was = icon->state().checked;
            icon->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            EXPECT_NE(icon->state().checked, was);
            EXPECT_EQ(list->item(1)->checkState() == Qt::Checked, !was);
            icon->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            EXPECT_EQ(icon->state().checked, was);
        }
        if (page == 6) break;
        QTest::keyClick(focus, Qt::Key_Return);
    }
    platform::SetDriveSources("", "");
    EXPECT_EQ(W<QPushButton>("cmdCancel")->text(), QStringLiteral("&Close"));
    EXPECT_EQ(programEnds, 0);
    QTest::keyClick(Focused(), Qt::Key_Return);
    EXPECT_EQ(programEnds, 1);
}

TEST_F(Navigation, SearchModeTabOrder) {
    Click("cmdNext");
    const char* order[] = {"optSearchSystem", "optSearchFolder", "txtFolder", "cmdBrowse",
                           "chkSubFolders",   "cmdAdvanced",     "txtMask",   "sldAccel",
                           "optSearchFile",   "txtFile",         "cmdBrowseFile"};
    QWidget* w = W(order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        w = w->nextInFocusChain();
        // Option buttons stay in the chain; Tab visits the checked one of them.
        while (w && !(w->focusPolicy() & Qt::TabFocus) && !qobject_cast<QRadioButton*>(w)) w = w->nextInFocusChain();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName(), QString::fromLatin1(order[i])) << "after " << order[i - 1];
    }
}

}  // namespace

// "Show Resources" hands the file manager the destination as an absolute
// folder; when the desktop cannot open it, a critical box names the folder.
TEST_F(Navigation, ShowResourcesOpensTheAbsoluteFolderOrSaysWhyNot) {
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(tmp.path());
    for (const bool canOpen : {true, false}) {
        SCOPED_TRACE(canOpen ? "file manager" : "no file manager");
        opened.clear();
        messages.shown.clear();
        fileManager = canOpen;
        form->DestPath = "rel/out";
        form->GoToPage(6);
        Click("cmdShowFolder");
        const std::string absolute = Tmp("rel/out");
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].toStdString(), absolute);
        ASSERT_EQ(messages.shown.size(), canOpen ? 0u : 1u);
        if (!canOpen) {
            EXPECT_NE(messages.shown[0].prompt.find(absolute), std::string::npos) << messages.shown[0].prompt;
            EXPECT_EQ(std::pair(messages.shown[0].buttons, messages.shown[0].icon), std::pair(platform::MsgButtons::OK, platform::MsgIcon::Critical));
        }
    }
    QDir::setCurrent(cwd);
}
