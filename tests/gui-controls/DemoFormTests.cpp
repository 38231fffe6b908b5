// Both components used as a form would: a tip on a button, a label reporting hover and leave.
// With $LOOMVALE_SCREENSHOT_DIR set, the form with its tip up is saved there as tooltip-demo.png.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "controls/cMouseTrack.h"
#include "controls/cTooltips.h"

namespace {

// Arms hover tracking whenever the pointer enters the button.
struct EnterHook : QObject {
    cMouseTrack* track = nullptr;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Enter) track->StartMouseTracking();
        return false;
    }
};

struct DemoForm {
    QWidget form;
    QPushButton* button = new QPushButton("Save resources", &form);
    QLabel* status = new QLabel("Pointer elsewhere", &form);
    cTooltips tips;
    cMouseTrack track;
    EnterHook hook;

    DemoForm() {
        form.resize(320, 150);
        auto* layout = new QVBoxLayout(&form);
        layout->addWidget(button);
        layout->addStretch();
        layout->addWidget(status);

        tips.Create(&form, 0);
        tips.SetDelayTime(platform::TTDT_INITIAL, 100);
        tips.Title("Save");
        tips.Icon(platform::TTI_INFO);
        tips.MaxTipWidth(200);
        tips.BackColor(0x80000018);  // the tip colours of the palette
        tips.ForeColor(0x80000017);
        tips.AddTool(button, 0, "Writes every resource found into the destination folder.");

        track.AttachMouseTracking(button);
        hook.track = &track;
        button->installEventFilter(&hook);
        QObject::connect(&track, &cMouseTrack::MouseHover, &track, [this](int32_t, int32_t, float x, float y) {
            status->setText(QString("Hover at %1, %2").arg(x).arg(y));
            track.StartMouseTracking();  // so that the leave is reported too
        });
        QObject::connect(&track, &cMouseTrack::MouseLeave, &track, [this] { status->setText("Left the button"); });
    }

    platform::HWND tip() const { return tips.hWnd(); }

    // The form with the tip window drawn where it stands on screen.
    QImage Picture() const {
        const QPoint origin = form.mapToGlobal(QPoint(0, 0));
        const QRect tipRect = tip()->geometry();
        const QRect all = QRect(origin, form.size()).united(tipRect);
        QImage image(all.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.drawPixmap(origin - all.topLeft(), const_cast<QWidget&>(form).grab());
        p.drawPixmap(tipRect.topLeft() - all.topLeft(), tip()->grab());
        return image;
    }
};

}  // namespace

TEST(DemoForm, ShowsTheTipAndReportsHoverAndLeave) {
    DemoForm demo;
    demo.form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&demo.form));
    QTest::mouseMove(&demo.form, QPoint(300, 140));

    QTest::mouseMove(demo.button, QPoint(40, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return demo.tip()->isVisible() && demo.status->text().startsWith("Hover"); }));
    EXPECT_EQ(demo.status->text(), QString("Hover at 40, 10"));

    const QImage picture = demo.Picture();
    const QPoint tipAt = demo.tip()->pos() - demo.form.mapToGlobal(QPoint(0, 0)) + QPoint(2, 2);
    EXPECT_EQ(picture.pixelColor(tipAt), QApplication::palette().color(QPalette::ToolTipBase));
    const QString dir = qEnvironmentVariable("LOOMVALE_SCREENSHOT_DIR");
    EXPECT_TRUE(dir.isEmpty() || picture.save(QDir(dir).filePath("tooltip-demo.png")));

    QTest::mouseMove(&demo.form, QPoint(300, 140));
    ASSERT_TRUE(QTest::qWaitFor([&] { return demo.status->text() == "Left the button"; }));
    EXPECT_FALSE(demo.tip()->isVisible());
}
