#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <vector>

#include "TestSupport.h"
#include "controls/cTooltips.h"
#include "platform/qt/TooltipWindow.h"

using namespace platform;

namespace {

struct Sent {
    uint32_t msg;
    WPARAM wParam;
    RECT rect;  // for the margin messages
};

class Tooltips : public testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<QWidget>();
        form->resize(400, 300);
        ctl = new QPushButton("ctl", form.get());
        ctl->setGeometry(40, 40, 100, 30);
        other = new QPushButton("other", form.get());
        other->setGeometry(200, 40, 100, 30);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QTest::mouseMove(form.get(), QPoint(380, 280));
        tips.Create(form.get(), 0);
        ASSERT_NE(tips.hWnd(), nullptr);
        window()->setMessageObserver([this](uint32_t msg, WPARAM w, LPARAM l) {
            Sent s{msg, w, {}};
            if ((msg == TTM_SETMARGIN) && l) s.rect = *reinterpret_cast<RECT*>(l);
            sent.push_back(s);
        });
        tips.SetDelayTime(TTDT_INITIAL, 150);
    }

    TooltipWindow* window() const { return qobject_cast<TooltipWindow*>(tips.hWnd()); }
    bool shown() const { return window() && window()->isVisible(); }
    int count(uint32_t msg) const {
        int n = 0;
        for (const Sent& s : sent) n += s.msg == msg;
        return n;
    }
    TOOLINFOA Enumerate(int index) {
        TOOLINFOA ti;
        ti.cbSize = TTTOOLINFOA_V1_SIZE;
        return SendMessageA(tips.hWnd(), TTM_ENUMTOOLSA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ti))
                   ? ti
                   : TOOLINFOA{};
    }
    void Rest(QWidget* w) { QTest::mouseMove(w, QPoint(20, 10)); }
    void Away() { QTest::mouseMove(form.get(), QPoint(380, 280)); }

    std::unique_ptr<QWidget> form;
    QPushButton* ctl = nullptr;
    QPushButton* other = nullptr;
    cTooltips tips;
    std::vector<Sent> sent;
};

}  // namespace

TEST_F(Tooltips, RestingPointerShowsTheTipAsConfigured) {
    tips.AddTool(ctl, 0, "Saves the open file to the disk it came from");
    tips.Icon(TTI_WARNING);
    tips.Title("Save");
    tips.BackColor(0x00CCEEFF);
    tips.ForeColor(0x00102030);
    tips.MarginLeft(6);
    tips.MarginTop(4);
    tips.MaxTipWidth(120);
    EXPECT_EQ(tips.Title(), "Save");
    EXPECT_EQ(tips.Icon(), TTI_WARNING);
    tips.SetDelayTime(TTDT_INITIAL, 400);  // long enough to look before it passes
    EXPECT_EQ(tips.GetDelayTime(TTDT_INITIAL), 400);

    Rest(ctl);
    QTest::qWait(100);
    EXPECT_FALSE(shown());  // the initial delay has not passed
    ASSERT_TRUE(WaitFor([&] { return shown(); }));
    EXPECT_EQ(window()->shownText(), QString("Saves the open file to the disk it came from"));
    EXPECT_EQ(window()->shownTitle(), QString("Save"));
    EXPECT_EQ(window()->width(), tips.GetTooltipWidth(ctl));
    EXPECT_EQ(window()->height(), tips.GetTooltipHeight(ctl));
    // The text wraps at the maximum width; title and text stay inside.
    EXPECT_LE(window()->width(), 120 + tips.ToolTipWidthFromText(nullptr, ""));
    EXPECT_GT(window()->height(), 3 * QFontMetrics(window()->font()).height());
    const QImage image = window()->grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2), QColor(0xFF, 0xEE, 0xCC));  // 0x00BBGGRR
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0x30, 0x20, 0x10));  // border in the text colour
    EXPECT_GT(window()->y(), ctl->mapToGlobal(QPoint(0, 10)).y());  // below the pointer

    Away();
    EXPECT_TRUE(WaitFor([&] { return !shown(); }));
    Rest(ctl);
    ASSERT_TRUE(WaitFor([&] { return shown(); }));
    tips.HideTips();
    EXPECT_FALSE(shown());

    // Inactive: resting shows nothing until enabled again.
    tips.SetDelayTime(TTDT_INITIAL, 150);
    Away();
    tips.Enabled(false);
    EXPECT_FALSE(tips.Enabled());
    Rest(ctl);
    QTest::qWait(300);
    EXPECT_FALSE(shown());
    tips.Enabled(true);
    Away();
    Rest(ctl);
    EXPECT_TRUE(WaitFor([&] { return shown(); }));
}

TEST_F(Tooltips, TrackingTipSitsAtTheTrackPosition) {
    tips.AddTool(ctl, TTF_TRACK | TTF_ABSOLUTE, "Tracking");
    EXPECT_EQ(Enumerate(0).uFlags, TTF_TRACK | TTF_ABSOLUTE | TTF_IDISHWND);  // no subclassing
    tips.SetTrackPosition(ctl, 123, 45);
    tips.SetTracking(ctl, true);
    ASSERT_TRUE(shown());
    EXPECT_EQ(window()->pos(), QPoint(123, 45));
    tips.SetTrackPosition(ctl, -5, 300);  // 16-bit coordinates with sign
    EXPECT_EQ(window()->pos(), QPoint(-5, 300));

    // The pointer does not move a tracking tip, nor hide it.
    Rest(ctl);
    Away();
    QTest::qWait(50);
    EXPECT_TRUE(shown());
    tips.SetTracking(ctl, false);
    EXPECT_FALSE(shown());
    // Tools never added send nothing.
    sent.clear();
    tips.SetTracking(other, true);
    tips.SetTrackPosition(other, 1, 1);
    EXPECT_EQ(count(TTM_TRACKACTIVATE) + count(TTM_TRACKPOSITION), 0);
    EXPECT_FALSE(shown());
}

TEST_F(Tooltips, ToolsAreFoundByControlDeletedAndAddedAgain) {
    tips.AddTool(ctl, 0, "first");
    tips.AddTool(other, 0);  // no text: no tip until it is given one
    EXPECT_EQ(tips.ToolCount(), 2);
    const TOOLINFOA first = Enumerate(0);
    EXPECT_EQ(first.uFlags, TTF_SUBCLASS | TTF_IDISHWND);
    EXPECT_EQ(first.uId, reinterpret_cast<uintptr_t>(ctl));
    EXPECT_EQ(first.hwnd, form.get());
    EXPECT_EQ(first.hinst, ProgramInstance());
    EXPECT_EQ(Enumerate(2).cbSize, 0u);

    Rest(other);
    QTest::qWait(300);
    EXPECT_FALSE(shown());
    tips.SetTipText(other, "second");
    Away();
    Rest(other);
    ASSERT_TRUE(WaitFor([&] { return shown(); }));
    EXPECT_EQ(window()->shownText(), QString("second"));
    Away();

    QPushButton stranger("stranger", form.get());
    sent.clear();
    tips.DeleteTool(&stranger);
    tips.SetToolRect(&stranger, 0, 0, 1, 1);
    tips.SetTipText(&stranger, "x");
    EXPECT_EQ(count(TTM_DELTOOLA) + count(TTM_NEWTOOLRECTA) + count(TTM_UPDATETIPTEXTA), 0);
    EXPECT_EQ(tips.GetTooltipWidth(&stranger), 0);
    EXPECT_FALSE(tips.HitTest(&stranger, 5, 5));
    EXPECT_TRUE(tips.HitTest(ctl, 5, 5));
    EXPECT_FALSE(tips.HitTest(ctl, 5, -1));

    tips.DeleteTool(ctl);
    EXPECT_EQ(tips.ToolCount(), 1);
    EXPECT_EQ(tips.GetTooltipWidth(ctl), 0);
    EXPECT_GT(tips.GetTooltipWidth(other), 0);
    tips.AddTool(ctl, 0, "again");
    EXPECT_EQ(tips.ToolCount(), 2);
    Rest(ctl);
    ASSERT_TRUE(WaitFor([&] { return shown(); }));
    EXPECT_EQ(window()->shownText(), QString("again"));

    // A control that goes away takes its tool with it, and its tip.
    delete ctl;
    EXPECT_EQ(tips.ToolCount(), 1);
    EXPECT_FALSE(shown());
}

TEST_F(Tooltips, MarginsAreSentWhole) {
    tips.MarginLeft(2);
    tips.MarginTop(3);
    tips.MarginRight(4);
    tips.MarginBottom(5);
    sent.clear();
    tips.MarginTop(9);
    ASSERT_EQ(sent.size(), 4u);  // the three others read, then one rectangle
    EXPECT_EQ(count(TTM_GETMARGIN), 3);
    EXPECT_EQ(sent.back().msg, TTM_SETMARGIN);
    // Each setter keeps the other three as they are.
    using Setter = void (cTooltips::*)(int32_t);
    const Setter setters[] = {&cTooltips::MarginLeft, &cTooltips::MarginTop, &cTooltips::MarginRight,
                              &cTooltips::MarginBottom};
    std::vector<int> expected{2, 9, 4, 5};
    for (size_t i = 0; i < 4; ++i) {
        (tips.*setters[i])(20 + static_cast<int>(i));
        expected[i] = 20 + static_cast<int>(i);
        const RECT r = sent.back().rect;
        EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), expected) << i;
    }
    EXPECT_EQ((std::vector<int>{tips.MarginLeft(), tips.MarginTop(), tips.MarginRight(), tips.MarginBottom()}),
              expected);
    tips.MarginLeft(2);
    tips.MarginTop(9);
    tips.MarginRight(4);
    tips.MarginBottom(5);

    // Size conversions follow the margins and undo each other.
    const int32_t tipWidth = tips.ToolTipWidthFromText(form.get(), "Some text");
    EXPECT_EQ(tips.TextWidthFromToolTipWidth(nullptr, tipWidth),
              QFontMetrics(form->font()).horizontalAdvance("Some text"));
    EXPECT_EQ(tips.ToolTipHeightFromText(nullptr, "x") - QFontMetrics(QApplication::font()).height(),
              -tips.TextHeightFromToolTipHeight(nullptr, 0));
    tips.MarginLeft(12);
    EXPECT_EQ(tips.ToolTipWidthFromText(form.get(), "Some text"), tipWidth + 10);
    // Huge margins saturate rather than wrap, and the tip stays a sane size.
    tips.MarginRight(INT32_MAX);
    EXPECT_EQ(tips.ToolTipWidthFromText(nullptr, "x"), INT32_MAX);
    tips.AddTool(ctl, 0, "wide");
    EXPECT_LE(tips.GetTooltipWidth(ctl), 4096);
}

TEST_F(Tooltips, SystemColourReferencesFollowThePalette) {
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Button, QColor(0x11, 0x22, 0x33));
    pal.setColor(QPalette::ToolTipText, QColor(0x44, 0x55, 0x66));
    QApplication::setPalette(pal);
    tips.BackColor(0x8000000F);  // button face
    tips.ForeColor(0x80000017);  // tip text
    EXPECT_EQ(sent.back().wParam, 0x00665544u);
    EXPECT_EQ(tips.BackColor(), 0x00332211u);
    EXPECT_EQ(tips.ForeColor(), 0x00665544u);
    pal.setColor(QPalette::Button, QColor(0xAA, 0xBB, 0xCC));
    QApplication::setPalette(pal);
    tips.BackColor(0x8000000F);
    EXPECT_EQ(tips.BackColor(), 0x00CCBBAAu);
    tips.BackColor(0x0080000F);  // not a reference: passes as it is
    EXPECT_EQ(sent.back().wParam, 0x0080000Fu);
    QApplication::setPalette(saved);
}

TEST_F(Tooltips, WithoutAWindowNothingHappens) {
    cTooltips none;
    QWidget& b = *new QPushButton("b", form.get());
    none.Title("lost");
    none.Icon(2);
    none.Enabled(true);
    none.AddTool(&b, 0, "tip");
    none.SetTracking(&b, true);
    none.MarginTop(5);
    none.BackColor(0x8000000F);
    none.SetTipText(&b, "x");
    EXPECT_FALSE(none.Enabled());
    EXPECT_EQ(none.Title(), "");
    EXPECT_FALSE(none.HitTest(&b, 1, 1));
    EXPECT_EQ(none.Icon() + none.GetDelayTime(TTDT_INITIAL) + none.MarginTop() + none.MaxTipWidth() +
                  none.ToolCount() + none.GetTooltipWidth(&b) + none.ToolTipWidthFromText(nullptr, "x") +
                  none.TextHeightFromToolTipHeight(nullptr, 9) + static_cast<int32_t>(none.ForeColor()),
              0);
    EXPECT_EQ(cTooltips::MakeLong(-1, 1), 0x0001FFFF);
    EXPECT_EQ(cTooltips::GetShellVersion(), 0);

    // The title given before Create is forgotten; Create starts enabled.
    none.Create(form.get(), 0);
    EXPECT_TRUE(none.Enabled());
    EXPECT_EQ(none.Title(), "");
    none.AddTool(&b, 0, "tip");
    none.AddTool(nullptr, 0, "nothing to hold it");
    EXPECT_EQ(none.ToolCount(), 1);
    // Creating again replaces the window and its tools.
    QPointer<QWidget> old = none.hWnd();
    none.Create(form.get(), 0);
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(none.ToolCount(), 0);

    // The form takes the window with it; the object carries on without one.
    form.reset();
    EXPECT_EQ(tips.hWnd(), nullptr);
    tips.MarginLeft(3);
    tips.Title("after");
    EXPECT_EQ(tips.Title(), "");
    EXPECT_EQ(tips.ToolCount(), 0);
}
