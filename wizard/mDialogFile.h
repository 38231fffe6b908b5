// The file and folder pickers behind the wizard's "..." buttons. Each gives
// back the chosen path, or empty text when the user cancelled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QFileDialog;
class QWidget;

namespace wizard {

// One entry of a file filter: the text shown and the patterns it stands for.
struct FileFilter {
    std::string description;
    std::vector<std::string> patterns;
    bool operator==(const FileFilter&) const = default;
};

// The dialogs themselves, replaceable so that tests can answer them.
class IDialogService {
public:
    virtual ~IDialogService() = default;
    virtual std::string PickFolder(QWidget* owner, const std::string& prompt) = 0;
    // selected: 1-based entry of filters (outside them: the first).
    virtual std::string PickFile(QWidget* owner, const std::string& initialFile, const std::vector<FileFilter>& filters,
                                 int32_t selected, const std::string& title, bool openDialog) = 0;
};
// nullptr restores the QFileDialog one. The caller keeps ownership.
void SetDialogService(IDialogService* service);

// The filter of the last dialog, NUL-separated and padded as the platform takes it.
extern std::string DialogFilter;

std::string BrowseForFolder(QWidget* owner, const std::string& prompt);
std::string ShowFileDialog(QWidget* owner, const std::string& initialFile, const std::string& filter,
                           int32_t& filterIndex, const std::string& title, bool openDialog);
int32_t FilterIndexFromFile(const std::string& fileName);
// The description-and-patterns pairs of a NUL-separated filter; patterns are
// split at ';'.
std::vector<FileFilter> FiltersFromDialogFilter(const std::string& dialogFilter);
// The dialog PickFile shows, not yet open: each entry shows its description as
// written, and the files listed are those matching its patterns.
QFileDialog* MakeFileDialog(QWidget* owner, const std::string& initialFile, const std::vector<FileFilter>& filters,
                            int32_t selected, const std::string& title, bool openDialog);

}  // namespace wizard
