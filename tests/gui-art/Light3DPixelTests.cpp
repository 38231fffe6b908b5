// The 3D line control as drawn: a two-pixel etched line and a sunken frame,
// after a resize and after the palette changes.
#include "controls/Light3D.h"

#include <gtest/gtest.h>

#include <QPalette>

using loomvale::Light3D;

namespace {

QImage Draw(Light3D& l, int w, int h) {
    l.resize(w, h);
    return l.grab().toImage();
}

TEST(Light3DPixels, EtchedLineDarkOverLight) {
    Light3D line;
    QPalette pal = line.palette();
    pal.setColor(QPalette::Dark, QColor(10, 20, 30));
    pal.setColor(QPalette::Light, QColor(240, 230, 220));
    pal.setColor(QPalette::Button, QColor(100, 110, 120));
    line.setPalette(pal);
    const QImage img = Draw(line, 12, 2);
    ASSERT_EQ(img.size(), QSize(12, 2));
    for (int x = 0; x < 11; ++x) EXPECT_EQ(img.pixelColor(x, 0), QColor(10, 20, 30)) << x;
    // The right edge is light from top to bottom.
    EXPECT_EQ(img.pixelColor(11, 0), QColor(240, 230, 220));
    for (int x = 0; x < 12; ++x) EXPECT_EQ(img.pixelColor(x, 1), QColor(240, 230, 220)) << x;
}

TEST(Light3DPixels, FrameFollowsResizeAndPalette) {
    Light3D frame;
    QPalette pal = frame.palette();
    pal.setColor(QPalette::Dark, QColor(10, 20, 30));
    pal.setColor(QPalette::Light, QColor(240, 230, 220));
    pal.setColor(QPalette::Button, QColor(100, 110, 120));
    frame.setPalette(pal);
    Draw(frame, 5, 5);
    const QImage img = Draw(frame, 30, 10);
    EXPECT_EQ(img.pixelColor(0, 0), QColor(10, 20, 30));
    EXPECT_EQ(img.pixelColor(28, 0), QColor(10, 20, 30));
    EXPECT_EQ(img.pixelColor(0, 8), QColor(10, 20, 30));
    EXPECT_EQ(img.pixelColor(0, 9), QColor(240, 230, 220));
    EXPECT_EQ(img.pixelColor(29, 0), QColor(240, 230, 220));
    EXPECT_EQ(img.pixelColor(29, 5), QColor(240, 230, 220));
    EXPECT_EQ(img.pixelColor(15, 9), QColor(240, 230, 220));
    // Inside: the button face.
    EXPECT_EQ(img.pixelColor(1, 1), QColor(100, 110, 120));
    EXPECT_EQ(img.pixelColor(28, 8), QColor(100, 110, 120));
    // Raised swaps the two; a palette change repaints in the new colours.
    frame.SetStyle(false);
    pal.setColor(QPalette::Light, QColor(200, 0, 0));
    frame.setPalette(pal);
    const QImage raised = Draw(frame, 30, 10);
    EXPECT_EQ(raised.pixelColor(0, 0), QColor(200, 0, 0));
    EXPECT_EQ(raised.pixelColor(15, 9), QColor(10, 20, 30));
}

}  // namespace
