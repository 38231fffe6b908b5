// The file and folder pickers behind the wizard's "..." buttons. Each gives
// back the chosen path, or empty text when the user cancelled.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace wizard {

std::string BrowseForFolder(QWidget* owner, const std::string& prompt);
std::string ShowFileDialog(QWidget* owner, const std::string& initialFile, const std::string& filter,
                           int32_t& filterIndex, const std::string& title, bool openDialog);

}  // namespace wizard
