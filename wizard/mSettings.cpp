#include "wizard/mSettings.h"

#include "platform/PathUtil.h"
#include "wizard/frmMain.h"

#include <QStandardPaths>

namespace wizard {

// Until a settings store is wired in, every start is a first start.
void LoadSettings(frmMain& form) {
    form.SearchSystem = engine::kTrue;
    form.FolderPath.clear();
    form.SubFolders = engine::kTrue;
    form.FileMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";
    for (int k = 0; k < engine::kResKindCount; ++k) form.Types[k] = engine::kTrue;
    const std::string docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    form.DestPath = platform::AddBackslash(docs) + "Resources";
    form.Priority = 3;
}

void SaveSettings(frmMain&) {}

}  // namespace wizard
