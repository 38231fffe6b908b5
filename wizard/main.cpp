#include "platform/system/MessageBox.h"
#include "platform/qt/QtMessageBox.h"
#include "wizard/frmMain.h"
#include "wizard/mExitRequests.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void NoDisplay() {
    std::fputs("loomvale: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY works); "
               "use loomvale-extract to extract resources without a desktop\n",
               stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Until the window system is open, Qt's own start-up complaints are replaced
// by one line, and its fatal "no platform plugin" ends with status 1 instead
// of an abort and a core file.
void StartUpMessages(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) NoDisplay();
}

}  // namespace

int main(int argc, char** argv) {
    // A platform named outright (offscreen, vnc ...) is the user's choice.
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) NoDisplay();
    const QtMessageHandler previous = qInstallMessageHandler(StartUpMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("Loomvale"));
    // Lets the desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brackwater.Loomvale"));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/loomvale/icons/app-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    platform::QtMessageBox messages;
    platform::SetMessageBoxService(&messages);
    int rc = 0;
    {
        wizard::frmMain form;
        messages.SetParent(&form);
        // The session's end and SIGTERM or SIGHUP leave as the close box does.
        wizard::ExitRequests exits;
        QObject::connect(&exits, &wizard::ExitRequests::Requested, &form, &wizard::frmMain::EndSession);
        form.show();
        rc = QApplication::exec();
    }
    platform::SetMessageBoxService(nullptr);
    return rc;
}
