#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "TestSupport.h"
#include "controls/cMouseTrack.h"
#include "platform/SystemVersion.h"
#include "platform/qt/Subclass.h"

using namespace platform;

namespace {

OSVERSIONINFOA Version(uint32_t platformId, uint32_t major, uint32_t minor = 0) {
    OSVERSIONINFOA v;
    v.dwPlatformId = platformId;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    return v;
}

CommonControlsAnswer Comctl(uint32_t major, uint32_t minor) {
    CommonControlsAnswer a;
    a.major = major;
    a.minor = minor;
    return a;
}

class MouseTrack : public testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<QWidget>();
        form->resize(300, 200);
        ctl = new QPushButton("ctl", form.get());
        ctl->setGeometry(50, 50, 100, 40);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        QTest::mouseMove(form.get(), QPoint(250, 180));
        track = std::make_unique<cMouseTrack>();
    }
    void TearDown() override {
        track.reset();
        ResetSystemVersion();
        ResetCommonControls();
        ReleaseCapture();
    }

    int32_t AutomaticMethod() {
        track->AttachMouseTracking(ctl);
        return track->Method();
    }

    std::unique_ptr<QWidget> form;
    QPushButton* ctl = nullptr;
    std::unique_ptr<cMouseTrack> track;
};

}  // namespace

TEST_F(MouseTrack, AutomaticChoiceFollowsTheSystem) {
    EXPECT_EQ(AutomaticMethod(), 0);  // the modern default
    SetSystemVersion(Version(VER_PLATFORM_WIN32_NT, 4));
    EXPECT_EQ(AutomaticMethod(), 0);
    SetSystemVersion(Version(VER_PLATFORM_WIN32_WINDOWS, 5));
    EXPECT_EQ(AutomaticMethod(), 0);

    // Older systems: the common controls decide.
    SetSystemVersion(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10));
    SetCommonControls(Comctl(4, 71));
    EXPECT_EQ(AutomaticMethod(), 1);
    SetCommonControls(Comctl(5, 0));
    EXPECT_EQ(AutomaticMethod(), 1);
    SetCommonControls(Comctl(4, 70));
    EXPECT_EQ(AutomaticMethod(), 2);
    SetSystemVersion(Version(VER_PLATFORM_WIN32_NT, 3, 51));
    SetCommonControls(Comctl(4, 72));
    EXPECT_EQ(AutomaticMethod(), 1);

    CommonControlsAnswer a = Comctl(6, 0);
    a.present = false;
    SetCommonControls(a);
    EXPECT_EQ(AutomaticMethod(), 2);
    a = Comctl(6, 0);
    a.hasDllGetVersion = false;
    SetCommonControls(a);
    EXPECT_EQ(AutomaticMethod(), 2);
    a = Comctl(6, 0);
    a.dllGetVersionResult = -2147467259;
    SetCommonControls(a);
    EXPECT_EQ(AutomaticMethod(), 2);
}

TEST_F(MouseTrack, ForcedMethodsAndTheMessagesAttached) {
    SubclassLibrary& lib = SubclassLibrary::Instance();
    track->AttachMouseTracking(ctl, 2);
    EXPECT_EQ(track->Method(), 2);
    EXPECT_EQ(lib.AttachedCount(ctl), 4);
    EXPECT_EQ(lib.AttachedCount(form.get()), 1);

    // Attaching again releases what the capture method attached, although
    // the new method is another one.
    QPushButton second("second", form.get());
    track->AttachMouseTracking(&second, 7);
    EXPECT_EQ(track->Method(), 7);
    EXPECT_EQ(lib.AttachedCount(ctl), 0);
    EXPECT_EQ(lib.AttachedCount(form.get()), 0);
    EXPECT_EQ(lib.AttachedCount(&second), 2);

    track->DetachMouseTracking();
    EXPECT_EQ(lib.AttachedCount(&second), 0);

    // A missing control leaves the object detached, without error.
    track->AttachMouseTracking(nullptr, 0);
    track->AttachMouseTracking(ctl, 1);
    EXPECT_EQ(lib.AttachedCount(ctl), 2);
    track.reset();  // ending detaches
    EXPECT_EQ(lib.AttachedCount(ctl), 0);
    EXPECT_EQ(track.get(), nullptr);
}

TEST_F(MouseTrack, PlatformNotificationReportsHoverThenLeave) {
    QSignalSpy hover(track.get(), &cMouseTrack::MouseHover);
    QSignalSpy leave(track.get(), &cMouseTrack::MouseLeave);
    track->AttachMouseTracking(ctl);
    EXPECT_FALSE(track->Tracking());  // attaching does not arm

    QTest::mouseMove(ctl, QPoint(30, 12));
    track->StartMouseTracking();
    track->StartMouseTracking();
    EXPECT_TRUE(track->Tracking());
    ASSERT_TRUE(WaitFor([&] { return hover.count() == 1; }));
    EXPECT_FALSE(track->Tracking());
    const QList<QVariant> args = hover.takeFirst();
    EXPECT_EQ(args.at(0).toInt(), 0);
    EXPECT_EQ(args.at(1).toInt(), 0);
    EXPECT_FLOAT_EQ(args.at(2).toFloat(), 30.f);
    EXPECT_FLOAT_EQ(args.at(3).toFloat(), 12.f);

    // Resting on is reported once per request.
    QTest::qWait(600);
    EXPECT_EQ(hover.count(), 0);
    EXPECT_EQ(leave.count(), 0);

    track->StartMouseTracking();
    QTest::mouseMove(form.get(), QPoint(250, 180));
    ASSERT_TRUE(WaitFor([&] { return leave.count() == 1; }));
    EXPECT_FALSE(track->Tracking());
    EXPECT_EQ(hover.count(), 0);

    // Arming while the pointer is elsewhere reports the leave at once.
    track->StartMouseTracking();
    ASSERT_TRUE(WaitFor([&] { return leave.count() == 2; }));
}

TEST_F(MouseTrack, HoverStateIsDecodedFromTheMessage) {
    QSignalSpy hover(track.get(), &cMouseTrack::MouseHover);
    track->AttachMouseTracking(ctl, 0);
    SubclassLibrary::Instance().Deliver(ctl, WM_MOUSEHOVER, MK_LBUTTON | MK_CONTROL, (7 << 16) | 40000);
    SubclassLibrary::Instance().Deliver(ctl, WM_MOUSEHOVER, MK_RBUTTON | MK_MBUTTON | MK_SHIFT, 0);
    ASSERT_EQ(hover.count(), 2);
    EXPECT_EQ(hover.at(0).at(0).toInt(), 1);
    EXPECT_EQ(hover.at(0).at(1).toInt(), 2);
    EXPECT_FLOAT_EQ(hover.at(0).at(2).toFloat(), 40000.f);
    EXPECT_FLOAT_EQ(hover.at(0).at(3).toFloat(), 7.f);
    EXPECT_EQ(hover.at(1).at(0).toInt(), 6);
    EXPECT_EQ(hover.at(1).at(1).toInt(), 1);
}

TEST_F(MouseTrack, RealHoverCarriesButtonsAndKeys) {
    QSignalSpy hover(track.get(), &cMouseTrack::MouseHover);
    track->AttachMouseTracking(ctl, 1);
    QTest::mouseMove(ctl, QPoint(10, 10));
    track->StartMouseTracking();
    QTest::mousePress(ctl, Qt::LeftButton, Qt::ControlModifier, QPoint(10, 10));
    ASSERT_TRUE(WaitFor([&] { return hover.count() == 1; }));
    EXPECT_EQ(hover.at(0).at(0).toInt(), 1);
    EXPECT_EQ(hover.at(0).at(1).toInt(), 2);
    QTest::mouseRelease(ctl, Qt::LeftButton, Qt::ControlModifier, QPoint(10, 10));
}

TEST_F(MouseTrack, CaptureModeKeepsTrackingWhileAButtonIsHeld) {
    QSignalSpy hover(track.get(), &cMouseTrack::MouseHover);
    QSignalSpy leave(track.get(), &cMouseTrack::MouseLeave);
    track->AttachMouseTracking(ctl, 2);
    QTest::mouseMove(ctl, QPoint(20, 20));
    track->StartMouseTracking();
    EXPECT_EQ(GetCapture(), ctl);

    // A drag that leaves the control raises nothing until the button is up.
    QTest::mousePress(ctl, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(ctl, QPoint(150, 20));
    QTest::mouseMove(ctl, QPoint(-30, -30));
    QTest::qWait(50);
    EXPECT_EQ(leave.count(), 0);
    EXPECT_TRUE(track->Tracking());
    QTest::mouseRelease(ctl, Qt::LeftButton, {}, QPoint(-30, -30));
    ASSERT_TRUE(WaitFor([&] { return leave.count() == 1; }));
    EXPECT_FALSE(track->Tracking());
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(hover.count(), 0);
}

TEST_F(MouseTrack, CaptureModeReArmsOnAClickInside) {
    QSignalSpy hover(track.get(), &cMouseTrack::MouseHover);
    QSignalSpy leave(track.get(), &cMouseTrack::MouseLeave);
    track->AttachMouseTracking(ctl, 2);
    QTest::mouseMove(ctl, QPoint(20, 20));
    track->StartMouseTracking();
    QTest::mouseClick(ctl, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(track->Tracking());
    EXPECT_EQ(GetCapture(), ctl);
    QTest::mouseMove(ctl, QPoint(30, 25));
    QTest::qWait(600);  // resting never raises a hover in this mode
    EXPECT_EQ(hover.count(), 0);
    EXPECT_EQ(leave.count(), 0);

    // One pixel above the control is outside it.
    QTest::mouseMove(ctl, QPoint(30, -1));
    ASSERT_TRUE(WaitFor([&] { return leave.count() == 1; }));
    EXPECT_FALSE(track->Tracking());
}

TEST_F(MouseTrack, CaptureModeEndsOnActivation) {
    QSignalSpy leave(track.get(), &cMouseTrack::MouseLeave);
    track->AttachMouseTracking(ctl, 2);
    QTest::mouseMove(ctl, QPoint(20, 20));
    SubclassLibrary::Instance().Deliver(form.get(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(leave.count(), 0);  // not armed: nothing to end
    track->StartMouseTracking();
    SubclassLibrary::Instance().Deliver(form.get(), WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(leave.count(), 1);
    EXPECT_FALSE(track->Tracking());
    EXPECT_EQ(GetCapture(), nullptr);

    // A real deactivation of the window reaches the parent as well.
    track->StartMouseTracking();
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(WaitFor([&] { return leave.count() == 2; }));
}

TEST_F(MouseTrack, MissingTrackingEntryIsAnError) {
    track->AttachMouseTracking(ctl, 1);
    CommonControlsAnswer a;
    a.hasTrackMouseEvent = false;
    SetCommonControls(a);
    try {
        track->StartMouseTracking();
        FAIL() << "no error";
    } catch (const MouseTrackError& e) {
        EXPECT_EQ(e.Number, 453);
        EXPECT_TRUE(QString::fromStdString(e.Source).endsWith(".cMouseTrack"));
        EXPECT_FALSE(QString::fromStdString(e.Source).contains(".cMouseTrack."));
    }
    EXPECT_FALSE(track->Tracking());
    a.present = false;
    SetCommonControls(a);
    EXPECT_THROW(track->StartMouseTracking(), MouseTrackError);
    EXPECT_FALSE(track->Tracking());
}
