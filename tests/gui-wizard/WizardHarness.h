// A wizard window under test: scripted message boxes, a recorded program
// end and folder opening, a fake tick count and a temporary folder.
#pragma once

#include "platform/system/MessageBox.h"
#include "wizard/frmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ShownMessage {
    std::string prompt;
    platform::MsgButtons buttons;
    platform::MsgIcon icon;
};

class ScriptedMessages : public platform::IMessageBoxService {
public:
    std::deque<platform::MsgResult> answers;
    std::vector<ShownMessage> shown;
    platform::MsgResult Show(const std::string& prompt, platform::MsgButtons buttons, platform::MsgIcon icon) override {
        shown.push_back({prompt, buttons, icon});
        if (answers.empty()) return buttons == platform::MsgButtons::OK ? platform::MsgResult::OK : platform::MsgResult::No;
        const platform::MsgResult r = answers.front();
        answers.pop_front();
        return r;
    }
};

class WizardTest : public ::testing::Test {
protected:
    ScriptedMessages messages;
    int programEnds = 0;
    std::vector<QString> opened;
    bool fileManager = true;  // whether the desktop can open a folder
    uint32_t ticks = 1000;
    QTemporaryDir tmp;
    std::unique_ptr<wizard::frmMain> form;
    std::function<void()> duringRun;  // once, when the run takes its start time on the progress page
    bool ran = false;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        platform::SetMessageBoxService(&messages);
        wizard::frmMain::SetProgramEndHook([this] { ++programEnds; });
        wizard::frmMain::SetOpenFolderService([this](const QString& f) {
            opened.push_back(f);
            return fileManager;
        });
        wizard::frmMain::SetTickSource([this] {
            if (!ran && form && form->CurPage == 5) {
                ran = true;
                if (duringRun) duringRun();
            }
            return ticks;
        });
        NewForm();
    }
    // Start every window from known options, not from the user's settings.
    void NewForm() {
        form = std::make_unique<wizard::frmMain>();
        form->FolderPath = Tmp("");
        form->DestPath = Tmp("out");
        form->show();
        QApplication::setActiveWindow(form.get());
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        form.reset();
        platform::SetMessageBoxService(nullptr);
        wizard::frmMain::SetProgramEndHook(nullptr);
        wizard::frmMain::SetTickSource([] { return 0u; });
    }

    std::string Tmp(const std::string& rel) const { return (tmp.path() + "/").toStdString() + rel; }
    void Put(const std::string& rel, const QByteArray& bytes) {
        QFile f(QString::fromStdString(Tmp(rel)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    template <class T = QWidget>
    T* W(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Click(const char* name) { QTest::mouseClick(W<QPushButton>(name), Qt::LeftButton); }
    void Choose(const char* option) { QTest::mouseClick(W<QRadioButton>(option), Qt::LeftButton, {}, QPoint(6, 6)); }
    void SetText(const char* name, const std::string& text) { W<QLineEdit>(name)->setText(QString::fromStdString(text)); }
    // The only message shown since the last clear, and how it was shown.
    void ExpectOneMessage(const std::string& prompt, platform::MsgButtons buttons, platform::MsgIcon icon) {
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].prompt, prompt);
        EXPECT_EQ(messages.shown[0].buttons, buttons);
        EXPECT_EQ(messages.shown[0].icon, icon);
    }

    // Walks the pages with the given search option, mask and kinds, and runs
    // the search to the page it should end on.
    void RunWith(const char* option, const std::function<void()>& fill, const QString& mask = QStringLiteral("*.dll"),
                 const std::vector<int>& kinds = {0, 1, 2, 3, 4, 5}, int endPage = 6) {
        Click("cmdNext");
        Choose(option);
        fill();
        W<QLineEdit>("txtMask")->setText(mask);
        Click("cmdNext");
        auto* list = W<QListWidget>("lvResTypes");
        for (int i = 0; i < list->count(); ++i) list->item(i)->setCheckState(Qt::Unchecked);
        for (int k : kinds) list->item(k)->setCheckState(Qt::Checked);
        Click("cmdNext");
        SetText("txtDestPath", Tmp("out"));
        Click("cmdNext");
        ASSERT_EQ(form->CurPage, 4);
        Click("cmdNext");
        ASSERT_EQ(form->CurPage, endPage) << "where the run ends";
    }
    QString Text(const char* name) { return W<QLabel>(name)->text(); }
    // The progress page's counts, row by row.
    std::vector<std::pair<QString, int>> Stats() {
        std::vector<std::pair<QString, int>> rows;
        auto* list = form->findChild<QTreeWidget*>(QStringLiteral("lvResStats"));
        for (int i = 0; list && i < list->topLevelItemCount(); ++i)
            rows.emplace_back(list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1).toInt());
        return rows;
    }
    QWidget* Focused() { return QApplication::focusWidget(); }
};
