#include "platform/MessageBox.h"
#include "platform/qt/QtMessageBox.h"
#include "wizard/frmMain.h"

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
        form.show();
        rc = QApplication::exec();
    }
    platform::SetMessageBoxService(nullptr);
    return rc;
}
