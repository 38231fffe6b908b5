// The file and folder pickers behind the wizard's "..." buttons. Each gives
// back the chosen path, or empty text when the user cancelled.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace wizard {

// The dialogs themselves, replaceable so that tests can answer them.
class IDialogService {
public:
    virtual ~IDialogService() = default;
    virtual std::string PickFolder(QWidget* owner, const std::string& prompt) = 0;
    // qtFilter: Qt's form ("Desc (*.a *.b);;..."); selected: 1-based entry.
    virtual std::string PickFile(QWidget* owner, const std::string& initialFile, const std::string& qtFilter,
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
// "Desc|*.a;*.b|..." -> "Desc (*.a *.b)" entries joined by ";;" (patterns
// from the pattern item, so Qt filters by them).
std::string QtFilterFromDialogFilter(const std::string& dialogFilter);

}  // namespace wizard
