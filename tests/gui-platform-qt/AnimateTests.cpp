// The animation control: plays a clip file at its rate, loops, stops, and shows nothing for a broken clip.
#include "platform/qt/Animate.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <utility>

namespace {

struct AnimateTest : ::testing::Test {
    const QColor parent{0x12, 0x34, 0x56};
    const QByteArray own = resources::ClipBytes(QStringLiteral("FINDFILES"));
    QTemporaryDir dir;
    QWidget host;
    platform::Animate* anim = new platform::Animate(&host);

    void SetUp() override {
        host.setPalette(QPalette(parent));
        host.setAutoFillBackground(true);
        host.resize(300, 80);
        anim->setGeometry(0, 0, 300, 80);
        host.show();
    }
    QString Write(const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
    }
    bool ShowsOnlyTheParent() {
        QImage plain(host.size(), QImage::Format_RGB32);
        plain.fill(parent);
        return host.grab().toImage().convertToFormat(QImage::Format_RGB32) == plain;
    }
};

TEST_F(AnimateTest, DrawsTransparentCentredThenPlaysLoopingAtTheClipsRate) {
    ASSERT_TRUE(anim->Open(Write("ifr1.tmp", own)));
    EXPECT_EQ(std::pair(anim->FrameCount(), anim->ClipSize()), std::pair(24, QSize(272, 60)));
    anim->SetCenter(true);
    anim->SetTransparent(true);
    // The parent shows in the margin and through the clip's background; the
    // amber folder lands 14, 10 to the right and down.
    const QImage shot = host.grab().toImage();
    EXPECT_EQ(std::pair(shot.pixelColor(5, 5), shot.pixelColor(14 + 1, 10 + 1)), std::pair(parent, parent));
    const QColor folder = shot.pixelColor(14 + 237, 10 + 45);
    EXPECT_TRUE(folder.red() > 200 && folder.blue() < 100) << folder.name().toStdString();
    anim->SetTransparent(false);
    const QImage first = anim->CurrentImage();

    QSignalSpy started(anim, &platform::Animate::Started), stopped(anim, &platform::Animate::Stopped);
    ASSERT_TRUE(anim->Play());
    EXPECT_TRUE(anim->FrameInterval() == 100 && started.count() == 1) << anim->FrameInterval();
    EXPECT_TRUE(QTest::qWaitFor([&] { return anim->CurrentFrame() >= 2 && anim->CurrentImage() != first; }, 3000));
    int last = anim->CurrentFrame();  // past the last frame it starts again
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::exchange(last, anim->CurrentFrame()) > anim->CurrentFrame(); }, 8000));
    anim->Stop();
    const int at = anim->CurrentFrame();
    QTest::qWait(250);
    EXPECT_FALSE(anim->IsPlaying() || anim->CurrentFrame() != at);
    ASSERT_TRUE(anim->Play(20, 23, 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stopped.count() == 2; }, 3000));
    EXPECT_EQ(anim->CurrentFrame(), 23);
    EXPECT_FALSE(anim->Play(5, 2) || anim->Play(0, -1, 0));
    anim->Close();
    EXPECT_TRUE(ShowsOnlyTheParent());
}

// On a dark page the clip's smoothed edges and shadows fade into the page:
// no trace of the light page it was drawn for, in any frame. Opaque, it lies
// on that light page.
TEST_F(AnimateTest, NoLightHalosOnADarkPage) {
    ASSERT_TRUE(anim->Open(Write("ifr2.tmp", own)));
    anim->SetTransparent(true);
    for (const QColor page : {QColor(0x20, 0x22, 0x26), QColor(Qt::black)}) {
        host.setPalette(QPalette(page));
        for (int frame : {0, 7, 15}) {
            anim->Play(frame, frame, 1);
            const QImage shot = host.grab().toImage();
            int halo = 0, art = 0;
            for (int y = 1; y < 59; ++y)
                for (int x = 1; x < 271; ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    art += c != page;
                    const bool edge = c != page && (shot.pixelColor(x - 1, y) == page || shot.pixelColor(x + 1, y) == page ||
                                                    shot.pixelColor(x, y - 1) == page || shot.pixelColor(x, y + 1) == page);
                    halo += edge && std::min({c.red(), c.green(), c.blue()}) >= 0x90;
                }
            // A light pixel beside the bare page is the art's own edge, or a
            // halo: the clip keyed on one colour had over 500 of them.
            EXPECT_GT(art, 2000) << frame;
            EXPECT_LT(halo, 60) << "frame " << frame << " on " << page.name().toStdString();
        }
    }
    anim->SetTransparent(false);  // opaque: laid over the page colour it was drawn for
    EXPECT_EQ(anim->CurrentImage().pixelColor(0, 0), QColor(0xEF, 0xEF, 0xEF));
}

TEST_F(AnimateTest, BrokenClipsShowNothing) {
    const QByteArray garbled = QByteArray(own).replace(16, 4, "\xFF\xFF\xFF\xFF");  // the header list's size
    for (const QString& path : {Write("cut.avi", own.left(own.size() / 2)), Write("garbled.avi", garbled),
                                Write("empty.avi", {}), dir.filePath(QStringLiteral("missing.avi"))}) {
        ASSERT_TRUE(anim->Open(Write("ifr1.tmp", own)));
        EXPECT_FALSE(anim->Open(path) || anim->IsOpen() || anim->Play() || anim->IsPlaying()) << path.toStdString();
        QTest::qWait(20);
        EXPECT_TRUE(ShowsOnlyTheParent());
    }
}

}  // namespace
