#include "wizard/mDialogFile.h"

#include <QFileDialog>
#include <QFileSystemModel>

#include <memory>

namespace wizard {

std::string DialogFilter;

namespace {

constexpr std::size_t kMaxPath = 260;

// Qt takes an entry's patterns from its last parentheses, space-separated,
// so "Program Files (*.exe;*.dll;*.ocx)" would match nothing. The entry is
// shown as written and its patterns are given to the file list directly,
// again whenever the dialog has set its own.
void UsePatterns(QFileDialog* dialog, const std::vector<FileFilter>& filters) {
    const qsizetype i = dialog->nameFilters().indexOf(dialog->selectedNameFilter());
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (i < 0 || static_cast<std::size_t>(i) >= filters.size() || !model) return;
    QStringList patterns;
    for (const std::string& p : filters[static_cast<std::size_t>(i)].patterns) patterns << QString::fromStdString(p);
    model->setNameFilters(patterns);
}

class QtDialogs : public IDialogService {
public:
    std::string PickFolder(QWidget* owner, const std::string& prompt) override {
        return QFileDialog::getExistingDirectory(owner, QString::fromStdString(prompt)).toStdString();
    }
    std::string PickFile(QWidget* owner, const std::string& initialFile, const std::vector<FileFilter>& filters,
                         int32_t selected, const std::string& title, bool openDialog) override {
        std::unique_ptr<QFileDialog> dialog(MakeFileDialog(owner, initialFile, filters, selected, title, openDialog));
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
        return dialog->selectedFiles().front().toStdString();
    }
};

QtDialogs g_qtDialogs;
IDialogService* g_service = nullptr;
IDialogService& Dialogs() { return g_service ? *g_service : g_qtDialogs; }

}  // namespace

void SetDialogService(IDialogService* service) { g_service = service; }

std::string BrowseForFolder(QWidget* owner, const std::string& prompt) {
    std::string path = Dialogs().PickFolder(owner, prompt);
    return path.substr(0, path.find('\0'));
}

std::vector<FileFilter> FiltersFromDialogFilter(const std::string& dialogFilter) {
    std::vector<FileFilter> out;
    std::size_t pos = 0;
    std::string desc;
    bool haveDesc = false;
    while (pos < dialogFilter.size()) {
        std::size_t end = dialogFilter.find('\0', pos);
        if (end == std::string::npos) end = dialogFilter.size();
        const std::string item = dialogFilter.substr(pos, end - pos);
        pos = end + 1;
        if (item.empty()) break;  // the padding
        if (!haveDesc) {
            desc = item;
            haveDesc = true;
            continue;
        }
        FileFilter f{desc, {}};
        for (std::size_t a = 0; a <= item.size();) {
            std::size_t b = item.find(';', a);
            if (b == std::string::npos) b = item.size();
            if (b > a) f.patterns.push_back(item.substr(a, b - a));
            a = b + 1;
        }
        out.push_back(std::move(f));
        haveDesc = false;
    }
    return out;
}

QFileDialog* MakeFileDialog(QWidget* owner, const std::string& initialFile, const std::vector<FileFilter>& filters,
                            int32_t selected, const std::string& title, bool openDialog) {
    auto* dialog = new QFileDialog(owner, QString::fromStdString(title), QString::fromStdString(initialFile));
    // Our own file list, so that the patterns can be set on it.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Open: the file must exist; save: Qt asks before overwriting. Neither has a read-only box.
    dialog->setAcceptMode(openDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog->setFileMode(openDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList names;
    for (const FileFilter& f : filters) names << QString::fromStdString(f.description);
    dialog->setNameFilters(names);
    if (selected >= 1 && static_cast<std::size_t>(selected) <= filters.size())
        dialog->selectNameFilter(names[selected - 1]);
    UsePatterns(dialog, filters);
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog, filters] { UsePatterns(dialog, filters); });
    return dialog;
}

std::string ShowFileDialog(QWidget* owner, const std::string& initialFile, const std::string& filter,
                           int32_t& filterIndex, const std::string& title, bool openDialog) {
    std::string f = filter;
    for (char& c : f)
        if (c == '|') c = '\0';
    if (f.size() >= kMaxPath) f.append(2, '\0');
    else f.resize(kMaxPath, '\0');
    DialogFilter = f;
    if (!initialFile.empty() && filterIndex == 0) filterIndex = FilterIndexFromFile(initialFile);
    std::string path =
        Dialogs().PickFile(owner, initialFile, FiltersFromDialogFilter(DialogFilter), filterIndex, title, openDialog);
    return path.substr(0, path.find('\0'));
}

int32_t FilterIndexFromFile(const std::string& fileName) {
    std::string ext = fileName.size() >= 4 ? fileName.substr(fileName.size() - 4) : fileName;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    // The NUL makes a pattern match only a whole entry.
    const std::string pattern = "*." + ext + std::string(1, '\0');
    int32_t count = 0;
    for (std::size_t nul = DialogFilter.find('\0'); nul != std::string::npos; nul = DialogFilter.find('\0', nul + 1)) {
        if (DialogFilter.compare(nul + 1, pattern.size(), pattern) == 0) break;
        ++count;
    }
    // Nothing matched: every NUL was counted.
    return count / 2 + 1;
}

}  // namespace wizard
