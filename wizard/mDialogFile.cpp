#include "wizard/mDialogFile.h"

#include <QFileDialog>

namespace wizard {

std::string DialogFilter;

namespace {

constexpr std::size_t kMaxPath = 260;

class QtDialogs : public IDialogService {
public:
    std::string PickFolder(QWidget* owner, const std::string& prompt) override {
        return QFileDialog::getExistingDirectory(owner, QString::fromStdString(prompt)).toStdString();
    }
    std::string PickFile(QWidget* owner, const std::string& initialFile, const std::string& qtFilter,
                         int32_t selected, const std::string& title, bool openDialog) override {
        const QString filter = QString::fromStdString(qtFilter);
        const QStringList entries = filter.split(QStringLiteral(";;"));
        QString chosen = selected >= 1 && selected <= entries.size() ? entries[selected - 1] : QString();
        const QString t = QString::fromStdString(title), f = QString::fromStdString(initialFile);
        // Open: the file must exist, no read-only box; save: ask before overwriting.
        return (openDialog ? QFileDialog::getOpenFileName(owner, t, f, filter, &chosen)
                           : QFileDialog::getSaveFileName(owner, t, f, filter, &chosen))
            .toStdString();
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

std::string QtFilterFromDialogFilter(const std::string& dialogFilter) {
    std::string out, desc;
    std::size_t pos = 0;
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
        std::string patterns = item;
        for (char& c : patterns)
            if (c == ';') c = ' ';
        // Qt takes the patterns from the last parentheses of the entry.
        std::string entry = desc;
        const std::size_t paren = entry.rfind(" (");
        if (paren != std::string::npos && entry.back() == ')') entry.erase(paren);
        if (!out.empty()) out += ";;";
        out += entry + " (" + patterns + ")";
        haveDesc = false;
    }
    return out;
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
        Dialogs().PickFile(owner, initialFile, QtFilterFromDialogFilter(DialogFilter), filterIndex, title, openDialog);
    return path.substr(0, path.find('\0'));
}

int32_t FilterIndexFromFile(const std::string& fileName) {
    std::string ext = fileName.size() >= 4 ? fileName.substr(fileName.size() - 4) : fileName;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    const std::string pattern = "*." + ext + std::string(1, '\0');
    int32_t count = 0;
    std::size_t pos = 0;
    while (true) {
        const std::size_t nul = DialogFilter.find('\0', pos);
        if (nul == std::string::npos) return 1;  // no entry fits: the first one
        ++count;
        if (DialogFilter.compare(nul + 1, pattern.size(), pattern) == 0 ||
            // the last pattern of a list ends in ';' rather than NUL
            DialogFilter.compare(nul + 1, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0) {
            --count;
            break;
        }
        pos = nul + 1;
    }
    return count / 2 + 1;
}

}  // namespace wizard
