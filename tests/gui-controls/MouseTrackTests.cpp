#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "controls/cMouseTrack.h"
#include "platform/system/SystemVersion.h"
#include "platform/qt/Subclass.h"

using namespace platform;

namespace {

std::string ButtonShiftXY(const QList<QVariant>& a) {
    return QStringList{a[0].toString(), a[1].toString(), a[2].toString(), a[3].toString()}.join(' ').toStdString();
}

class MouseTrack : public testing::Test {
protected:
    void SetUp() override {
        form.resize(300, 200);
        ctl->setGeometry(50, 50, 100, 40);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        QTest::mouseMove(&form, QPoint(250, 180));
    }
    void TearDown() override {
        ResetSystemVersion();
        ResetCommonControls();
    }

    QWidget form;
    QPushButton* ctl = new QPushButton("ctl", &form);
    std::unique_ptr<cMouseTrack> track = std::make_unique<cMouseTrack>();
    QSignalSpy hover{track.get(), &cMouseTrack::MouseHover};
    QSignalSpy leave{track.get(), &cMouseTrack::MouseLeave};
    SubclassLibrary& lib = SubclassLibrary::Instance();
};

}  // namespace

TEST_F(MouseTrack, AutomaticChoiceFollowsTheSystem) {
    // NT 4 and 5 on use the platform; older systems need common controls 4.71 or later, else capture.
    const uint32_t nt = VER_PLATFORM_WIN32_NT, w9x = VER_PLATFORM_WIN32_WINDOWS;
    const struct { OSVERSIONINFOA os; CommonControlsAnswer comctl; int32_t method; } cases[] = {
        {{10, 0, 0, nt}, {}, 0}, {{4, 0, 0, nt}, {}, 0}, {{5, 0, 0, w9x}, {}, 0},
        {{4, 10, 0, w9x}, {true, true, 0, 4, 71}, 1}, {{4, 10, 0, w9x}, {true, true, 0, 4, 70}, 2},
        {{3, 51, 0, nt}, {true, true, 0, 5, 0}, 1},  // then no library, no version entry, or the entry fails:
        {{3, 51, 0, nt}, {false}, 2}, {{3, 51, 0, nt}, {true, false}, 2}, {{3, 51, 0, nt}, {true, true, -1}, 2}};
    for (const auto& c : cases) {
        SetSystemVersion(c.os);
        SetCommonControls(c.comctl);
        track->AttachMouseTracking(ctl);
        EXPECT_EQ(track->Method(), c.method) << "case " << &c - cases;
    }
}

TEST_F(MouseTrack, ForcedMethodsTheMessagesAttachedAndAMissingEntry) {
    track->AttachMouseTracking(ctl, 2);
    EXPECT_TRUE(lib.AttachedCount(ctl) == 4 && lib.AttachedCount(&form) == 1);  // the parent's activation too
    // Attaching again releases what capture attached, whatever the new method.
    QPushButton second("second", &form);
    track->AttachMouseTracking(&second, 7);
    EXPECT_EQ(lib.AttachedCount(ctl) + lib.AttachedCount(&form), 0);
    track->AttachMouseTracking(nullptr, 0);  // leaves it detached, without error
    track->AttachMouseTracking(ctl, 1);
    EXPECT_EQ(lib.AttachedCount(ctl), 2);
    // Without the tracking entry, or with no library at all, starting is an error.
    for (const auto& [comctl, number] : {std::pair{CommonControlsAnswer{true, true, 0, 6, 0, false}, 453},
                                         std::pair{CommonControlsAnswer{false}, 48}}) {
        SetCommonControls(comctl);
        MouseTrackError e{0, "none", ""};
        try { track->StartMouseTracking(); } catch (const MouseTrackError& raised) { e = raised; }
        EXPECT_TRUE(e.Number == number && e.Source.ends_with(".cMouseTrack") && e.Source.find(".cMouseTrack.") == std::string::npos)
            << e.Number << " " << e.Source;
    }
    EXPECT_FALSE(track->Tracking());
    track.reset();  // ending detaches
    EXPECT_EQ(lib.AttachedCount(ctl), 0);
}

TEST_F(MouseTrack, PlatformNotificationReportsHoverThenLeave) {
    track->AttachMouseTracking(ctl);
    EXPECT_FALSE(track->Tracking());  // attaching does not arm
    QTest::mouseMove(ctl, QPoint(30, 12));
    track->StartMouseTracking();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hover.count() == 1; }));
    EXPECT_EQ(ButtonShiftXY(hover.takeFirst()), "0 0 30 12");
    QTest::qWait(600);  // resting on is reported once per request
    EXPECT_EQ(hover.count() + leave.count(), 0);

    track->StartMouseTracking();
    QTest::mouseMove(&form, QPoint(250, 180));
    ASSERT_TRUE(QTest::qWaitFor([&] { return leave.count() == 1; }));
    track->StartMouseTracking();  // armed elsewhere: the leave comes at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return leave.count() == 2; }));
    // Buttons, keys and an unsigned 16-bit position come from the message.
    lib.Deliver(ctl, WM_MOUSEHOVER, MK_LBUTTON | MK_CONTROL, (7 << 16) | 40000);
    lib.Deliver(ctl, WM_MOUSEHOVER, MK_RBUTTON | MK_MBUTTON | MK_SHIFT, 0);
    ASSERT_EQ(hover.count(), 2);
    EXPECT_EQ(ButtonShiftXY(hover.at(0)), "1 2 40000 7");
    EXPECT_EQ(ButtonShiftXY(hover.at(1)), "6 1 0 0");
}

TEST_F(MouseTrack, CaptureModeTracksUntilOutsideWithNoButtonHeldOrDeactivated) {
    const auto armInside = [&] { QTest::mouseMove(ctl, QPoint(20, 20)); track->StartMouseTracking(); };
    track->AttachMouseTracking(ctl, 2);
    armInside();
    QTest::mouseClick(ctl, Qt::LeftButton, {}, QPoint(20, 20));  // a click inside re-arms
    EXPECT_TRUE(track->Tracking() && GetCapture() == ctl);
    QTest::qWait(600);  // resting never raises a hover in this mode
    EXPECT_EQ(leave.count(), 0);
    QTest::mouseMove(ctl, QPoint(30, -1));  // one pixel above is outside
    ASSERT_TRUE(QTest::qWaitFor([&] { return leave.count() == 1; }));

    // A drag that leaves the control raises nothing until the button is up.
    armInside();
    QTest::mousePress(ctl, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(ctl, QPoint(-30, -30));
    QTest::qWait(50);
    EXPECT_TRUE(leave.count() == 1 && track->Tracking());
    QTest::mouseRelease(ctl, Qt::LeftButton, {}, QPoint(-30, -30));
    ASSERT_TRUE(QTest::qWaitFor([&] { return leave.count() == 2; }));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(hover.count(), 0);

    // Deactivation ends it too, and a real one reaches the parent.
    armInside();
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(QTest::qWaitFor([&] { return leave.count() == 3; }));
    EXPECT_TRUE(!track->Tracking() && GetCapture() == nullptr);
}

TEST_F(MouseTrack, EitherOfTrackerAndControlMayGoFirst) {
    // Armed in each mode, then destroyed in either order (or the tracker as the
    // control's child); afterwards the form's messages reach no freed tracker.
    enum Order { ControlFirst, TrackerFirst, TrackerIsChild };
    for (const int32_t method : {2, 0})
        for (const Order order : {ControlFirst, TrackerFirst, TrackerIsChild}) {
            const std::string row = "method " + std::to_string(method) + " order " + std::to_string(order);
            auto* control = new QPushButton("gone", &form);
            control->setGeometry(10, 10, 30, 20);
            control->show();
            auto* tracker = new cMouseTrack(order == TrackerIsChild ? control : nullptr);
            tracker->AttachMouseTracking(control, method);
            QTest::mouseMove(control, QPoint(5, 5));
            tracker->StartMouseTracking();
            if (order == TrackerFirst) delete tracker;
            delete control;
            if (order == ControlFirst) {
                lib.Deliver(&form, WM_ACTIVATE, WA_INACTIVE, 0);  // still attached: handled by a live tracker
                delete tracker;
            }
            EXPECT_EQ(lib.AttachedCount(&form), 0) << row;
            lib.Deliver(&form, WM_ACTIVATE, WA_INACTIVE, 0);
            QTest::qWait(20);  // queued notifications find nobody
            EXPECT_EQ(GetCapture(), nullptr) << row;
        }
}
