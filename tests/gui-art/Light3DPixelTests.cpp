// The 3D line control as drawn: a two-pixel etched line, then a sunken and a
// raised frame after a resize, in the palette's colours.
#include "controls/Light3D.h"

#include <gtest/gtest.h>

#include <QPalette>

namespace {

TEST(Light3DPixels, EtchedLineAndFrameInThePalettesColours) {
    const QColor dark(10, 20, 30), light(240, 230, 220), face(100, 110, 120);
    loomvale::Light3D l;
    QPalette pal = l.palette();
    pal.setColor(QPalette::Dark, dark);
    pal.setColor(QPalette::Light, light);
    pal.setColor(QPalette::Button, face);
    l.setPalette(pal);
    auto draw = [&](int w, int h) {
        l.resize(w, h);
        return l.grab().toImage();
    };
    const QImage line = draw(12, 2);
    for (int x = 0; x < 11; ++x) EXPECT_EQ(line.pixelColor(x, 0), dark) << x;
    EXPECT_EQ(line.pixelColor(11, 0), light);  // the right edge is light top to bottom
    for (int x = 0; x < 12; ++x) EXPECT_EQ(line.pixelColor(x, 1), light) << x;

    const QImage frame = draw(30, 10);
    for (QPoint p : {QPoint(0, 0), QPoint(28, 0), QPoint(0, 8)}) EXPECT_EQ(frame.pixelColor(p), dark) << p.x();
    for (QPoint p : {QPoint(0, 9), QPoint(29, 0), QPoint(29, 5), QPoint(15, 9)})
        EXPECT_EQ(frame.pixelColor(p), light) << p.x() << "," << p.y();
    EXPECT_EQ(frame.pixelColor(1, 1), face);
    EXPECT_EQ(frame.pixelColor(28, 8), face);

    // Raised swaps the two; a palette change repaints in the new colours.
    l.SetStyle(false);
    pal.setColor(QPalette::Light, QColor(200, 0, 0));
    l.setPalette(pal);
    const QImage raised = draw(30, 10);
    EXPECT_EQ(raised.pixelColor(0, 0), QColor(200, 0, 0));
    EXPECT_EQ(raised.pixelColor(15, 9), dark);
}

}  // namespace
