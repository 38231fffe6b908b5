// The 3D line control as drawn: an etched line, then sunken and raised frames, in the palette's colours.
#include "controls/Light3D.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <tuple>

TEST(Light3DPixels, EtchedLineAndFrameInThePalettesColours) {
    const QColor dark(10, 20, 30), light(240, 230, 220), face(100, 110, 120), red(200, 0, 0);
    Light3D l;
    QPalette pal = l.palette();
    pal.setColor(QPalette::Dark, dark);
    pal.setColor(QPalette::Light, light);
    pal.setColor(QPalette::Button, face);
    l.setPalette(pal);
    auto check = [&](int w, int h, std::initializer_list<std::tuple<int, int, QColor>> pixels) {
        l.resize(w, h);
        const QImage shot = l.grab().toImage();
        for (auto [x, y, c] : pixels) EXPECT_EQ(shot.pixelColor(x, y), c) << w << "x" << h << ": " << x << "," << y;
    };
    // The line's right edge is light top to bottom.
    check(12, 2, {{0, 0, dark}, {10, 0, dark}, {11, 0, light}, {0, 1, light}, {11, 1, light}});
    check(30, 10, {{0, 0, dark}, {28, 0, dark}, {0, 8, dark}, {0, 9, light}, {29, 0, light}, {29, 5, light},
                   {15, 9, light}, {1, 1, face}, {28, 8, face}});
    // Raised swaps the two; a palette change repaints in the new colours.
    l.SetStyle(false);
    pal.setColor(QPalette::Light, red);
    l.setPalette(pal);
    check(30, 10, {{0, 0, red}, {15, 9, dark}});
}

TEST(Light3DSurface, RunTimeGraphicsGoThroughHdcAndClsClearsThem) {
    Light3D l;
    l.resize(20, 10);
    {
        QPainter p(l.hDC());
        p.fillRect(QRect(5, 4, 1, 1), QColor(0, 200, 0));
    }
    l.PSet_(9, 4, 0x000000FFu);  // one pixel in from the point given; COLORREF red
    const QImage drawn = l.grab().toImage();
    EXPECT_EQ(std::pair(drawn.pixelColor(5, 4), drawn.pixelColor(10, 5)), std::pair(QColor(0, 200, 0), QColor(255, 0, 0)));
    EXPECT_EQ(l.Image().pixelColor(5, 4), QColor(0, 200, 0)) << "hDC draws into the persistent bitmap";
    l.Cls();
    const QImage cleared = l.grab().toImage();
    EXPECT_TRUE(cleared.pixel(5, 4) == cleared.pixel(6, 4) && cleared.pixel(10, 5) == cleared.pixel(6, 4));
}

TEST(Light3DSurface, StoredPropertiesSurviveLoadAndSave) {
    const QFont ambient;
    PropertyBag none, stored, saved;
    Light3D fresh, loaded;
    fresh.ReadProperties(none, ambient);
    fresh.WriteProperties(saved, ambient);
    EXPECT_TRUE(fresh.Style() && saved.Size() == 0u) << "no \"Style\" key: sunken; defaults are left out";
    // The border style has no public property, yet a stored one is kept.
    stored.WriteProperty("BorderStyle", 1, 0);
    stored.WriteProperty("Style", false, true);
    loaded.ReadProperties(stored, ambient);
    loaded.WriteProperties(saved, ambient);
    EXPECT_FALSE(loaded.Style());
    EXPECT_TRUE(saved.ReadProperty("BorderStyle", 0).toInt() == 1 && !saved.ReadProperty("Style", true).toBool() &&
                saved.Size() == 2u);
}
