// Every page as drawn: not blank and showing its title; on the progress page
// the centre line and the bar flush inside its frame. With
// $LOOMVALE_SCREENSHOT_DIR set the pictures are saved there (page1.png for
// the welcome page ... page7.png for the finish page).
#include "WizardHarness.h"

#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLayout>
#include <QScrollBar>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

namespace {

QRect InForm(QWidget* form, QWidget* w) { return QRect(w->mapTo(form, QPoint(0, 0)), w->size()); }

// Contrast ratio of two colours as the web's accessibility guidelines define it.
double Contrast(QRgb a, QRgb b) {
    const auto lum = [](QRgb c) {
        const auto lin = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
    };
    const double la = lum(a), lb = lum(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

class Screenshots : public WizardTest {
protected:
    const QString dir = qEnvironmentVariable("LOOMVALE_SCREENSHOT_DIR");
    QImage shot;

    void Shoot(int page, const char* title) {
        SCOPED_TRACE(testing::Message() << "page " << page + 1 << " '" << title << "'");
        QCoreApplication::processEvents();
        shot = form->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shot.size(), form->size());
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 2)
            for (int x = 0; x < shot.width(); x += 2) colours.insert(shot.pixel(x, y));
        EXPECT_GT(colours.size(), 20) << "blank picture";
        // The title is on show and drawn: dark pixels inside its label.
        QLabel* label = nullptr;
        for (QLabel* l : form->findChildren<QLabel*>())
            if (l->isVisible() && l->text() == QLatin1String(title)) label = l;
        ASSERT_NE(label, nullptr) << "title not on show";
        const QRect r = InForm(form.get(), label) & shot.rect();
        int ink = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) ink += qGray(shot.pixel(x, y)) < 100;
        EXPECT_GT(ink, 30) << "title not drawn";
        // Every text on show stands out from what is behind it (its commonest
        // colour) by at least 4.5:1 at its strongest pixels.
        for (QLabel* l : form->findChildren<QLabel*>()) {
            if (!l->isVisible() || l->text().isEmpty()) continue;
            const QRect lr = InForm(form.get(), l) & shot.rect();
            std::map<QRgb, int> seen;
            for (int y = lr.top(); y <= lr.bottom(); ++y)
                for (int x = lr.left(); x <= lr.right(); ++x) ++seen[shot.pixel(x, y)];
            const QRgb back = std::max_element(seen.begin(), seen.end(), [](auto& a, auto& b) {
                                  return a.second < b.second;
                              })->first;
            double best = 1;
            for (const auto& [c, n] : seen) best = std::max(best, Contrast(c, back));
            EXPECT_GE(best, 4.5) << "'" << l->text().toStdString() << "'";
        }
        if (!dir.isEmpty()) {
            EXPECT_TRUE(shot.save(dir + QStringLiteral("/page%1.png").arg(page + 1)));
        }
    }

    // The centre line runs across the column between the bar and the counts,
    // dark above light; the bar's edges touch the frame's on every side.
    void CheckProgressPicture() {
        QWidget* frame = W("l3dProgressBack");
        QWidget* line = W("l3dCenterLine");
        QWidget* list = W("lvResStats");
        ASSERT_TRUE(frame->isVisible() && line->isVisible());
        const QRect f = InForm(form.get(), frame), l = InForm(form.get(), line), v = InForm(form.get(), list);
        EXPECT_EQ(l.height(), 2);
        EXPECT_TRUE(l.top() > f.bottom() && l.bottom() < v.top()) << "line not between bar and counts";
        EXPECT_EQ(std::make_pair(l.left(), l.width()), std::make_pair(v.left(), v.width())) << "line not across the column";
        const QRgb above = shot.pixel(l.center().x(), l.top() - 2), top = shot.pixel(l.center().x(), l.top()),
                   bottom = shot.pixel(l.center().x(), l.top() + 1);
        EXPECT_LT(qGray(top), qGray(above)) << "line's upper row not dark";
        EXPECT_GT(qGray(bottom), qGray(top)) << "line's lower row not light";

        // One pixel in from each edge the bar is drawn, not the page showing through.
        const QRgb page = shot.pixel(f.left() - 3, f.center().y());
        const std::pair<const char*, QPoint> inside[] = {{"left", {f.left() + 1, f.center().y()}},
                                                         {"right", {f.right() - 1, f.center().y()}},
                                                         {"top", {f.center().x(), f.top() + 1}},
                                                         {"bottom", {f.center().x(), f.bottom() - 1}}};
        for (const auto& [side, p] : inside) EXPECT_NE(shot.pixel(p), page) << "gap on the " << side;
    }
};

TEST_F(Screenshots, EveryPageIsDrawnWithItsTitle) {
    if (!dir.isEmpty()) QDir().mkpath(dir);
    Shoot(0, "Welcome to Loomvale");
    Click("cmdNext");
    Click("cmdAdvanced");
    Shoot(1, "Search mode");
    // A counted folder search over the temporary folder shows the bar.
    Choose("optSearchFolder");
    Click("cmdNext");
    Shoot(2, "Resource types");
    Click("cmdNext");
    Shoot(3, "Destination");
    Click("cmdNext");
    Shoot(4, "Ready");
    // The progress page is on show when the run takes its start time; the
    // bar is moved to 44 % for the picture.
    duringRun = [&] {
        form->TotalDirs = 50;
        form->UpdateProgress(22);
        Shoot(5, "Search in progress...");
        CheckProgressPicture();
    };
    Click("cmdNext");
    EXPECT_TRUE(ran);
    Shoot(6, "Search finished");
}

// Every control shows its whole text at the usual font, at 14 pt and at
// 144-dpi fonts (9 pt at 1.5 times): the window grows to what its pages need
// (and is 620 x 460 at the usual font), and the counts list holds all six
// kinds without a scroll bar.
TEST_F(Screenshots, EveryControlShowsItsWholeTextAtLargerFonts) {
    if (!dir.isEmpty()) QDir().mkpath(dir);
    const QFont usual = QApplication::font();
    const std::shared_ptr<void> restore(nullptr, [usual](void*) { QApplication::setFont(usual); });
    for (const double points : {0.0, 14.0, 13.5}) {
        SCOPED_TRACE(testing::Message() << (points ? points : usual.pointSizeF()) << " pt");
        QFont font = usual;
        if (points) font.setPointSizeF(points);
        QApplication::setFont(font);
        NewForm();
        form->DestPath = Tmp("out" + std::to_string(points));  // a new one each time: no question
        ran = false;
        const auto check = [&](const char* page) {
            // On a real display the window manager grows the window in its own time.
            form->layout()->activate();
            QCoreApplication::processEvents();
            EXPECT_TRUE(QTest::qWaitFor([&] {
                return form->width() >= form->minimumWidth() && form->height() >= form->minimumHeight();
            })) << page << ": the window was not grown to what it needs";
            QCoreApplication::processEvents();
            if (!points) {
                EXPECT_EQ(form->size(), QSize(620, 460)) << page;
            }
            for (QWidget* w : form->findChildren<QWidget*>()) {
                if (!w->isVisible()) continue;
                const auto* label = qobject_cast<QLabel*>(w);
                const bool text = (label && !label->text().isEmpty()) || qobject_cast<QAbstractButton*>(w) ||
                                  qobject_cast<QLineEdit*>(w) || qobject_cast<QGroupBox*>(w);
                if (!text) continue;
                QSize need = w->minimumSizeHint();
                if (label && label->wordWrap()) need = QSize(0, label->heightForWidth(label->width()));
                if (auto* b = qobject_cast<QPushButton*>(w))  // its text and a frame (not the style's least width)
                    need = b->fontMetrics().size(Qt::TextShowMnemonic, b->text()) + QSize(4, 4);
                EXPECT_TRUE(w->width() >= need.width() && w->height() >= need.height())
                    << page << ": " << w->objectName().toStdString() << " is " << w->width() << "x" << w->height()
                    << ", its text needs " << need.width() << "x" << need.height();
            }
        };
        check("welcome");
        Click("cmdNext");
        Click("cmdAdvanced");
        check("search mode");
        Choose("optSearchFolder");
        Click("cmdNext");
        check("resource types");
        Click("cmdNext");
        check("destination");
        Click("cmdNext");
        check("ready");
        duringRun = [&] {
            check("progress");
            auto* list = W<QTreeWidget>("lvResStats");
            EXPECT_EQ(list->topLevelItemCount(), 6);
            EXPECT_FALSE(list->verticalScrollBar()->isVisible()) << "the counts list scrolls";
            if (points == 14.0 && !dir.isEmpty()) form->grab().save(dir + QStringLiteral("/progress-14pt.png"));
        };
        Click("cmdNext");
        EXPECT_TRUE(ran);
        check("finish");
    }
}

}  // namespace
