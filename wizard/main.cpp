#include "platform/MessageBox.h"
#include "platform/qt/QtMessageBox.h"
#include "wizard/frmMain.h"
#include "wizard/mExitRequests.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
