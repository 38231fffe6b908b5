// The embedded resources as the executable sees them, and the wizard using
// them: its pictures, its kind icons and the clip it plays from the
// temporary file during a run.
#include "../gui-wizard/WizardHarness.h"
#include "controls/Animate.h"
#include "resources/Resources.h"
#include "wizard/mWizardArt.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>

namespace {

TEST(Resources, PicturesInOneAndTwoTimesSize) {
    const struct {
        const char* name;
        QSize size;
    } pictures[] = {{"imgWizard", {164, 416}}, {"imgWatermark", {164, 416}}, {"imgLogo", {44, 44}}};
    for (const auto& p : pictures) {
        const QString name = QString::fromLatin1(p.name);
        const QPixmap one = resources::Picture(name, 1.0);
        ASSERT_FALSE(one.isNull()) << p.name;
        EXPECT_EQ(one.size(), p.size) << p.name;
        const QPixmap two = resources::Picture(name, 2.0);
        EXPECT_EQ(two.size(), p.size * 2) << p.name;
        EXPECT_EQ(two.devicePixelRatio(), 2.0);
        EXPECT_EQ(two.deviceIndependentSize().toSize(), p.size);
    }
    EXPECT_TRUE(resources::Picture(QStringLiteral("imgNothing")).isNull());
    EXPECT_TRUE(resources::Picture(QStringLiteral("FINDFILES")).isNull());
    // The logo's corner is see-through, its middle is not.
    const QImage logo = resources::Picture(QStringLiteral("imgLogo"), 1.0).toImage();
    EXPECT_EQ(qAlpha(logo.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(logo.pixel(22, 22)), 255);
}

TEST(Resources, KindIconsInBothSizes) {
    std::vector<QImage> seen;
    for (int kind = 0; kind < 6; ++kind) {
        const QIcon icon = resources::KindIcon(kind);
        ASSERT_FALSE(icon.isNull()) << kind;
        const QList<QSize> sizes = icon.availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32))) << kind;
        const QImage small = icon.pixmap(QSize(16, 16), 1.0).toImage();
        EXPECT_EQ(small.size(), QSize(16, 16));
        for (const QImage& other : seen) EXPECT_NE(small, other) << kind;
        seen.push_back(small);
    }
    EXPECT_TRUE(resources::KindIcon(-1).isNull());
    EXPECT_TRUE(resources::KindIcon(6).isNull());
}

TEST(Resources, ClipAndFileList) {
    const QByteArray clip = resources::ClipBytes(QStringLiteral("FINDFILES"));
    EXPECT_TRUE(clip.startsWith("RIFF"));
    EXPECT_EQ(clip.mid(8, 4), QByteArray("AVI "));
    EXPECT_TRUE(resources::ClipBytes(QStringLiteral("findfiles")).isEmpty());
    EXPECT_TRUE(resources::ClipBytes(QStringLiteral("imgLogo")).isEmpty());
    EXPECT_EQ(resources::Files().size(), 19);
    EXPECT_TRUE(resources::Files().contains(QStringLiteral("kind-html-32.png")));
}

// The wizard library reaches the same resources, not placeholders.
TEST(WizardArt, UsesTheEmbeddedResources) {
    EXPECT_EQ(wizard::WizardPicture(wizard::WizardPictureKind::Wizard).deviceIndependentSize().toSize(),
              QSize(164, 416));
    EXPECT_EQ(wizard::WizardPicture(wizard::WizardPictureKind::Logo).deviceIndependentSize().toSize(),
              QSize(44, 44));
    EXPECT_EQ(wizard::KindIcon(3).pixmap(16, 16).toImage(), resources::KindIcon(3).pixmap(16, 16).toImage());
    EXPECT_EQ(wizard::AnimationClip("FINDFILES"), resources::ClipBytes(QStringLiteral("FINDFILES")));
    QWidget host;
    QWidget* anim = wizard::MakeAnimation(&host);
    EXPECT_NE(qobject_cast<loomvale::Animate*>(anim), nullptr);
}

class WizardRun : public WizardTest {};

TEST_F(WizardRun, PlaysTheClipFromItsTemporaryFileWhileThePageShows) {
    bool checked = false;
    std::string file;
    Click("cmdNext");
    QTest::mouseClick(W<QRadioButton>("optSearchFolder"), Qt::LeftButton, {}, QPoint(6, 6));
    W<QLineEdit>("txtFolder")->setText(QString::fromStdString(Tmp("")));
    W<QCheckBox>("chkSubFolders")->setChecked(false);
    for (int i = 0; i < 3; ++i) Click("cmdNext");
    ASSERT_EQ(form->CurPage, 4);
    wizard::frmMain::SetTickSource([&] {
        if (!checked && form->CurPage == 5) {
            checked = true;
            file = form->AnimFile;
            const QFileInfo info(QString::fromStdString(file));
            EXPECT_TRUE(info.fileName().startsWith(QStringLiteral("ifr")));
            EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
            QFile written(info.filePath());
            EXPECT_TRUE(written.open(QIODevice::ReadOnly));
            EXPECT_EQ(written.readAll(), resources::ClipBytes(QStringLiteral("FINDFILES")));
            auto* anim = form->findChild<loomvale::Animate*>(QStringLiteral("aniAnim"));
            EXPECT_NE(anim, nullptr);
            if (anim) {
                EXPECT_TRUE(anim->IsOpen());
                EXPECT_TRUE(anim->IsPlaying());
                EXPECT_EQ(anim->ClipSize(), QSize(272, 60));
                const int before = anim->CurrentFrame();
                EXPECT_TRUE(QTest::qWaitFor([&] { return anim->CurrentFrame() != before; }, 3000));
                // Nothing of it is cut off by the page.
                EXPECT_GE(anim->width(), 272);
                EXPECT_GE(anim->height(), 60);
            }
        }
        return ticks;
    });
    Click("cmdNext");
    EXPECT_TRUE(checked);
    EXPECT_EQ(form->CurPage, 6);
    ASSERT_FALSE(file.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file)));
    auto* anim = form->findChild<loomvale::Animate*>(QStringLiteral("aniAnim"));
    ASSERT_NE(anim, nullptr);
    EXPECT_FALSE(anim->IsOpen());
    EXPECT_FALSE(anim->IsPlaying());
}

}  // namespace
