// The embedded pictures, kind icons and clip, and the wizard playing the clip during a run.
#include "tests/gui-wizard/WizardHarness.h"
#include "platform/qt/Animate.h"
#include "resources/Resources.h"
#include "wizard/mWizardArt.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>

namespace {

TEST(Resources, PicturesIconsAndClipByExactName) {
    for (auto [name, size] : std::initializer_list<std::pair<const char*, QSize>>{
             {"imgWizard", {164, 416}}, {"imgWatermark", {164, 416}}, {"imgLogo", {44, 44}}}) {
        const QPixmap two = resources::Picture(QString::fromLatin1(name), 2.0);
        EXPECT_EQ(std::pair(two.size(), two.deviceIndependentSize().toSize()), std::pair(size * 2, size)) << name;
    }
    const QImage logo = resources::Picture(QStringLiteral("imgLogo"), 1.0).toImage();  // see-through corners
    EXPECT_EQ(std::pair(qAlpha(logo.pixel(0, 0)), qAlpha(logo.pixel(22, 22))), std::pair(0, 255));
    std::vector<QImage> seen;  // six kinds, each its own icon in 16 and 32 pixels
    for (int kind = 0; kind < 6; ++kind) {
        const QIcon icon = resources::KindIcon(kind);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)) && icon.availableSizes().contains(QSize(32, 32)));
        seen.push_back(icon.pixmap(QSize(16, 16), 1.0).toImage());
        EXPECT_EQ(std::count(seen.begin(), seen.end(), seen.back()), 1) << kind;
    }
    EXPECT_TRUE(resources::KindIcon(-1).isNull() && resources::KindIcon(6).isNull());
    const QByteArray clip = resources::ClipBytes(QStringLiteral("FINDFILES"));
    EXPECT_TRUE(resources::ClipBytes(QStringLiteral("findfiles")).isEmpty());  // names are exact
    EXPECT_TRUE(resources::ClipBytes(QStringLiteral("imgLogo")).isNull() && resources::Picture("FINDFILES").isNull());
    // The wizard library reaches the same resources, not placeholders.
    EXPECT_EQ(wizard::WizardPicture(wizard::WizardPictureKind::Logo).toImage(), logo);
    EXPECT_EQ(wizard::KindIcon(3).pixmap(16, 16).toImage(), seen[3]);
    EXPECT_EQ(wizard::AnimationClip("FINDFILES"), clip);
}

TEST_F(WizardTest, PlaysTheClipFromItsTemporaryFileWhileThePageShows) {
    Click("cmdNext");
    QTest::mouseClick(W<QRadioButton>("optSearchFolder"), Qt::LeftButton, {}, QPoint(6, 6));
    W<QLineEdit>("txtFolder")->setText(QString::fromStdString(Tmp("")));
    W<QCheckBox>("chkSubFolders")->setChecked(false);
    for (int i = 0; i < 3; ++i) Click("cmdNext");
    bool checked = false;
    wizard::frmMain::SetTickSource([&] {
        auto* anim = form->findChild<platform::Animate*>(QStringLiteral("aniAnim"));
        if (!checked && form->CurPage == 5 && anim) {
            checked = true;
            QFile written(QString::fromStdString(form->AnimFile));
            EXPECT_EQ(QFileInfo(written).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
            EXPECT_TRUE(written.open(QIODevice::ReadOnly) &&
                        written.readAll() == resources::ClipBytes(QStringLiteral("FINDFILES")));
            const int before = anim->CurrentFrame();
            EXPECT_TRUE(QTest::qWaitFor([&] { return anim->CurrentFrame() != before; }, 3000));
            EXPECT_TRUE(anim->width() >= 272 && anim->height() >= 60) << "cut off: " << anim->width() << "x" << anim->height();
        }
        return ticks;
    });
    Click("cmdNext");
    EXPECT_TRUE(checked);
    EXPECT_FALSE(form->findChild<platform::Animate*>(QStringLiteral("aniAnim"))->IsOpen());
}

}  // namespace
