// The animation control: plays the clip from a file at its rate, loops,
// stops, and shows nothing at all for a clip it cannot decode.
#include "AviBuilder.h"
#include "controls/Animate.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using loomvale::Animate;

namespace {

class AnimateTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QWidget host;
    Animate* anim = nullptr;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        host.setAutoFillBackground(true);
        QPalette pal = host.palette();
        pal.setColor(QPalette::Window, QColor(0x12, 0x34, 0x56));
        host.setPalette(pal);
        host.resize(300, 80);
        anim = new Animate(&host);
        anim->setGeometry(0, 0, 300, 80);
        host.show();
    }
    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QString OwnClip() { return Write(QStringLiteral("ifr1.tmp"), resources::ClipBytes(QStringLiteral("FINDFILES"))); }
    // Every pixel of the control as drawn over its parent.
    bool ShowsOnlyTheParent() {
        const QImage shot = host.grab().toImage();
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (shot.pixelColor(x, y) != QColor(0x12, 0x34, 0x56)) return false;
        return true;
    }
};

TEST_F(AnimateTest, PlaysLoopingAtTheClipsRate) {
    ASSERT_TRUE(anim->Open(OwnClip()));
    EXPECT_EQ(anim->FrameCount(), 24);
    EXPECT_EQ(anim->ClipSize(), QSize(272, 60));
    EXPECT_EQ(anim->CurrentFrame(), 0);
    const QImage first = anim->CurrentImage();
    ASSERT_FALSE(first.isNull());
    QSignalSpy started(anim, &Animate::Started);
    ASSERT_TRUE(anim->Play());
    EXPECT_TRUE(anim->IsPlaying());
    EXPECT_EQ(anim->FrameInterval(), 100);
    EXPECT_EQ(started.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return anim->CurrentFrame() >= 2; }, 3000));
    EXPECT_NE(anim->CurrentImage(), first);
    // Past the last frame it starts again.
    int last = anim->CurrentFrame();
    bool wrapped = false;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            wrapped = wrapped || anim->CurrentFrame() < last;
            last = anim->CurrentFrame();
            return wrapped;
        },
        8000));
    EXPECT_TRUE(anim->IsPlaying());
    anim->Stop();
    const int stopped = anim->CurrentFrame();
    QTest::qWait(250);
    EXPECT_EQ(anim->CurrentFrame(), stopped);
    EXPECT_FALSE(anim->IsPlaying());
    anim->Close();
    EXPECT_FALSE(anim->IsOpen());
    EXPECT_TRUE(anim->CurrentImage().isNull());
    EXPECT_TRUE(ShowsOnlyTheParent());
}

TEST_F(AnimateTest, RepeatCountEndsThePlay) {
    ASSERT_TRUE(anim->Open(OwnClip()));
    QSignalSpy stopped(anim, &Animate::Stopped);
    ASSERT_TRUE(anim->Play(20, 23, 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stopped.count() == 1; }, 3000));
    EXPECT_EQ(anim->CurrentFrame(), 23);
    EXPECT_FALSE(anim->Play(5, 2));
    EXPECT_FALSE(anim->Play(0, -1, 0));
}

TEST_F(AnimateTest, TransparentBackgroundAndCentring) {
    ASSERT_TRUE(anim->Open(OwnClip()));
    anim->SetCenter(true);
    anim->SetTransparent(true);
    EXPECT_EQ(qAlpha(anim->CurrentImage().pixel(0, 0)), 0);
    const QImage shot = host.grab().toImage();
    // The parent shows in the margin and through the clip's background.
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(shot.pixelColor(14 + 1, 10 + 1), QColor(0x12, 0x34, 0x56));
    // The amber folder of the clip lands 14, 10 to the right and down.
    const QColor folder = shot.pixelColor(14 + 237, 10 + 45);
    EXPECT_GT(folder.red(), 200);
    EXPECT_LT(folder.blue(), 100);
    anim->SetTransparent(false);
    EXPECT_EQ(anim->CurrentImage().pixel(0, 0), 0xFFEFEFEFu);
}

TEST_F(AnimateTest, BrokenClipsShowNothing) {
    QByteArray clip = resources::ClipBytes(QStringLiteral("FINDFILES"));
    const QString cut = Write(QStringLiteral("cut.avi"), clip.left(clip.size() / 2));
    QByteArray garbled = clip;
    for (int i = 16; i < 20; ++i) garbled[i] = char(0xFF);  // the header list's size
    const QString bad = Write(QStringLiteral("garbled.avi"), garbled);
    const QString empty = Write(QStringLiteral("empty.avi"), QByteArray());
    for (const QString& path : {cut, bad, empty, dir.filePath(QStringLiteral("missing.avi"))}) {
        ASSERT_TRUE(anim->Open(OwnClip()));
        EXPECT_FALSE(anim->Open(path)) << path.toStdString();
        EXPECT_FALSE(anim->IsOpen());
        EXPECT_FALSE(anim->Play());
        EXPECT_FALSE(anim->IsPlaying());
        QTest::qWait(20);
        EXPECT_TRUE(ShowsOnlyTheParent());
    }
}

}  // namespace
