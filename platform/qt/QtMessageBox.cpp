#include "platform/qt/QtMessageBox.h"

#include <QMessageBox>
#include <QString>

namespace platform {

MsgResult QtMessageBox::Show(const std::string& prompt, MsgButtons buttons, MsgIcon icon) {
    QMessageBox box(parent_.data());
    box.setWindowTitle(QString::fromUtf8(kProductName));
    // Prompts use CR LF between lines; Qt wants plain line feeds.
    box.setText(QString::fromUtf8(prompt.c_str()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (icon) {
        case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    QMessageBox::StandardButton escape = QMessageBox::NoButton;
    switch (buttons) {
        case MsgButtons::OK:
            box.setStandardButtons(QMessageBox::Ok);
            escape = QMessageBox::Ok;
            break;
        case MsgButtons::OKCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            escape = QMessageBox::Cancel;
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            escape = QMessageBox::No;
            break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            escape = QMessageBox::Cancel;
            break;
        case MsgButtons::RetryCancel:
            box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
            escape = QMessageBox::Cancel;
            break;
    }
    box.setEscapeButton(escape);
    switch (box.exec()) {
        case QMessageBox::Ok: return MsgResult::OK;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        case QMessageBox::Retry: return MsgResult::Retry;
        default: return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::Cancel;
    }
}

}  // namespace platform
