// Renders every page offscreen into $LOOMVALE_SCREENSHOT_DIR (page1.png for
// the welcome page ... page7.png for the finish page). Skipped without it.
#include "WizardHarness.h"

#include <QAbstractButton>
#include <QDir>
#include <QPixmap>

namespace {

class Screenshots : public WizardTest {
protected:
    QString dir;
    void Save(int page) {
        QCoreApplication::processEvents();
        const QPixmap shot = form->grab();
        ASSERT_FALSE(shot.isNull());
        ASSERT_TRUE(shot.save(dir + QStringLiteral("/page%1.png").arg(page + 1)));
    }
};

TEST_F(Screenshots, EveryPage) {
    dir = qEnvironmentVariable("LOOMVALE_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "LOOMVALE_SCREENSHOT_DIR not set";
    QDir().mkpath(dir);
    Save(0);
    Click("cmdNext");
    Click("cmdAdvanced");
    Save(1);
    Click("cmdNext");
    Save(2);
    Click("cmdNext");
    Save(3);
    Click("cmdNext");
    Save(4);
    // The progress page is on show when the run takes its start time.
    bool taken = false;
    wizard::frmMain::SetTickSource([&] {
        if (!taken && form->CurPage == 5) {
            taken = true;
            Save(5);
        }
        return 0u;
    });
    Click("cmdNext");
    EXPECT_TRUE(taken);
    Save(6);
}

}  // namespace
