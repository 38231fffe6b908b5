// What the desktop may ask of the window: maximize, full screen, back to
// normal. On Wayland a window of fixed size answering a maximized
// configure with its own size is a protocol error that ends the program
// (weston: "xdg_surface geometry does not match the configured maximized
// state"); so each request is made, the window must follow it and live on.
// Runs on a real display: Xvfb with a window manager, and weston.
#include "WizardHarness.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace {

class Desktop : public WizardTest {};

TEST_F(Desktop, MaximizeFullScreenAndNormalAreFollowed) {
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && platform != QLatin1String("wayland")) GTEST_SKIP() << "needs a real display";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::qWait(300);  // the first frames shown, as before any user could click
    const QSize normal = form->size();
    const QSize screen = form->screen()->availableSize();
    struct Row {
        const char* what;
        std::function<void()> ask;
        Qt::WindowState state;
    };
    const Row rows[] = {{"maximize", [&] { form->showMaximized(); }, Qt::WindowMaximized},
                        {"full screen", [&] { form->showFullScreen(); }, Qt::WindowFullScreen},
                        {"normal", [&] { form->showNormal(); }, Qt::WindowNoState}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.ask();
        // The compositor or window manager answers in its own time; a protocol
        // error would end this process here.
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->windowHandle()->windowStates() == row.state; }, 3000));
        QTest::qWait(300);
        if (row.state == Qt::WindowNoState) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return form->size() == normal; }, 3000)) << form->width() << "x" << form->height();
        } else {
            EXPECT_TRUE(QTest::qWaitFor([&] { return form->width() > normal.width(); }, 3000))
                << form->width() << "x" << form->height() << " on a screen of " << screen.width() << "x" << screen.height();
        }
        // The pages follow the window: the buttons stay at its bottom right.
        const QWidget* cancel = W("cmdCancel");
        EXPECT_GT(cancel->mapTo(form.get(), QPoint(cancel->width(), cancel->height())).x(), form->width() - 40);
    }
    Click("cmdNext");
    EXPECT_EQ(form->CurPage, 1);
}

}  // namespace
