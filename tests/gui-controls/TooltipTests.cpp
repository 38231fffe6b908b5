#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

#include "controls/cTooltips.h"
#include "platform/qt/TooltipWindow.h"

using namespace platform;

namespace {

class Tooltips : public testing::Test {
protected:
    void SetUp() override {
        form->resize(400, 300);
        ctl->setGeometry(40, 40, 100, 30);
        other->setGeometry(200, 40, 100, 30);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        Away();
        tips.Create(form.get(), 0);
        window()->setMessageObserver([this](uint32_t msg, WPARAM, LPARAM l) {
            sent.push_back(msg);
            if (msg == TTM_SETMARGIN && l) margin = *reinterpret_cast<RECT*>(l);
        });
        tips.SetDelayTime(TTDT_INITIAL, 150);
    }

    TooltipWindow* window() const { return qobject_cast<TooltipWindow*>(tips.hWnd()); }
    bool shown() const { return window() && window()->isVisible(); }
    void Away() { QTest::mouseMove(form.get(), QPoint(380, 280)); }
    bool ShowsOn(QWidget* w, int ms = 3000) {
        Away();
        QTest::mouseMove(w, QPoint(20, 10));
        return QTest::qWaitFor([&] { return shown(); }, ms);
    }

    std::unique_ptr<QWidget> form = std::make_unique<QWidget>();
    QPushButton* ctl = new QPushButton("ctl", form.get());
    QPushButton* other = new QPushButton("other", form.get());
    cTooltips tips;
    std::vector<uint32_t> sent;
    RECT margin{};
};

}  // namespace

TEST_F(Tooltips, RestingPointerShowsTheTipAsConfigured) {
    const QString text = "Saves the open file to the disk it came from";
    tips.AddTool(ctl, 0, text.toStdString());
    tips.Title("Save");
    tips.BackColor(0x00CCEEFF);
    tips.ForeColor(0x00102030);
    tips.MaxTipWidth(120);
    tips.SetDelayTime(TTDT_INITIAL, 400);  // long enough to look before it passes
    // Each margin setter sends the whole rectangle, the other three as they were.
    tips.MarginLeft(2);
    tips.MarginTop(3);
    tips.MarginRight(4);
    tips.MarginBottom(5);
    tips.MarginTop(7);
    EXPECT_TRUE(margin.left == 2 && margin.top == 7 && margin.right == 4 && margin.bottom == 5);
    QTest::mouseMove(ctl, QPoint(20, 10));
    QTest::qWait(100);
    EXPECT_FALSE(shown());
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown(); }));
    EXPECT_EQ(window()->shownTitle() + ": " + window()->shownText(), "Save: " + text);
    // Wrapped at the maximum width, below the pointer, in the colours given (0x00BBGGRR).
    EXPECT_LE(window()->width(), 120 + tips.ToolTipWidthFromText(nullptr, ""));
    EXPECT_GT(window()->height(), 3 * QFontMetrics(window()->font()).height());
    EXPECT_GT(window()->y(), ctl->mapToGlobal(QPoint(0, 10)).y());
    const QImage image = window()->grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2), QColor(0xFF, 0xEE, 0xCC));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0x30, 0x20, 0x10));  // border in the text colour

    tips.Enabled(false);  // inactive: resting shows nothing until enabled again
    EXPECT_FALSE(ShowsOn(ctl, 600));
    tips.Enabled(true);
    EXPECT_TRUE(ShowsOn(ctl));
    // Huge margins saturate rather than wrap, and the tip stays a sane size.
    tips.MarginRight(INT32_MAX);
    EXPECT_EQ(tips.ToolTipWidthFromText(nullptr, "x"), INT32_MAX);
    EXPECT_LE(tips.GetTooltipWidth(ctl), 4096);
}

TEST_F(Tooltips, TrackingTipSitsAtTheTrackPosition) {
    tips.AddTool(ctl, TTF_TRACK | TTF_ABSOLUTE, "Tracking");
    tips.SetTrackPosition(ctl, 123, 45);
    tips.SetTracking(ctl, true);
    EXPECT_TRUE(shown() && window()->pos() == QPoint(123, 45));
    tips.SetTrackPosition(ctl, -5, 300);  // 16-bit coordinates with sign
    QTest::mouseMove(ctl, QPoint(20, 10));  // the pointer neither moves nor hides it
    Away();
    QTest::qWait(50);
    EXPECT_TRUE(shown() && window()->pos() == QPoint(-5, 300));
    tips.SetTracking(ctl, false);
    EXPECT_FALSE(shown());
}

TEST_F(Tooltips, ToolsAreFoundByControlDeletedAndAddedAgain) {
    tips.AddTool(ctl, 0, "first");
    tips.AddTool(other, 0);  // no text: no tip until it is given one
    EXPECT_FALSE(ShowsOn(other, 300));
    tips.SetTipText(other, "second");
    ASSERT_TRUE(ShowsOn(other));
    EXPECT_EQ(window()->shownText(), QString("second"));
    EXPECT_TRUE(tips.HitTest(ctl, 5, 5) && !tips.HitTest(ctl, 5, -1));

    // Controls without a tool: nothing sent, nothing found.
    QPushButton stranger("stranger", form.get());
    sent.clear();
    tips.DeleteTool(&stranger);
    tips.SetTipText(&stranger, "x");
    tips.SetTrackPosition(&stranger, 1, 1);
    for (uint32_t msg : {TTM_DELTOOLA, TTM_UPDATETIPTEXTA, TTM_TRACKPOSITION})
        EXPECT_EQ(std::count(sent.begin(), sent.end(), msg), 0) << msg;
    EXPECT_FALSE(tips.GetTooltipWidth(&stranger) || tips.HitTest(&stranger, 5, 5));

    tips.DeleteTool(ctl);
    EXPECT_TRUE(tips.ToolCount() == 1 && tips.GetTooltipWidth(ctl) == 0);
    tips.AddTool(ctl, 0, "again");
    ASSERT_TRUE(ShowsOn(ctl));
    EXPECT_EQ(window()->shownText(), QString("again"));
    delete ctl;  // a control that goes away takes its tool with it, and its tip
    EXPECT_TRUE(tips.ToolCount() == 1 && !shown());
}

TEST_F(Tooltips, WithoutAWindowNothingHappens) {
    cTooltips none;
    none.Title("lost");
    none.AddTool(ctl, 0, "tip");
    none.MarginTop(5);
    EXPECT_TRUE(!none.Enabled() && !none.HitTest(ctl, 1, 1) && none.ToolCount() + none.MarginTop() == 0);
    // The title given before Create is forgotten; Create starts enabled.
    none.Create(form.get(), 0);
    EXPECT_TRUE(none.Enabled() && none.Title().empty());
    none.AddTool(ctl, 0, "tip");
    none.AddTool(nullptr, 0, "nothing to hold it");
    EXPECT_EQ(none.ToolCount(), 1);
    QPointer<QWidget> old = none.hWnd();
    none.Create(form.get(), 0);  // replaces the window and its tools
    EXPECT_TRUE(old.isNull() && none.ToolCount() == 0);
    form.reset();  // takes the window with it; the object carries on without one
    tips.MarginLeft(3);
    EXPECT_TRUE(tips.hWnd() == nullptr && tips.ToolCount() == 0);
}
