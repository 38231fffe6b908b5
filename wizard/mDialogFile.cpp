#include "wizard/mDialogFile.h"

namespace wizard {

// No picker yet: every dialog is "cancelled", so the text boxes keep their text.
std::string BrowseForFolder(QWidget*, const std::string&) { return {}; }

std::string ShowFileDialog(QWidget*, const std::string&, const std::string&, int32_t&, const std::string&, bool) {
    return {};
}

}  // namespace wizard
