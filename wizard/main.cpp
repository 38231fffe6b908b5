#include "platform/MessageBox.h"
#include "platform/qt/QtMessageBox.h"
#include "wizard/frmMain.h"
#include "wizard/mExitRequests.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Loomvale"));
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
