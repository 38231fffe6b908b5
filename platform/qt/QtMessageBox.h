// The wizard's message-box service: a modal QMessageBox titled "Loomvale"
// with the icon and buttons asked for; returns the button pressed.
#pragma once

#include "platform/system/MessageBox.h"

#include <QPointer>
#include <QWidget>

namespace platform {

class QtMessageBox : public IMessageBoxService {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    MsgResult Show(const std::string& prompt, MsgButtons buttons, MsgIcon icon) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace platform
