// One service shows every message box of the program. The wizard installs a
// QMessageBox-based one, the batch command a stderr one, tests a scripted one.
#pragma once

#include <string>

namespace platform {

inline constexpr const char* kProductName = "Loomvale";

enum class MsgButtons { OK, OKCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgResult { OK, Cancel, Yes, No, Retry };

class IMessageBoxService {
public:
    virtual ~IMessageBoxService() = default;
    // Title is always kProductName.
    virtual MsgResult Show(const std::string& prompt, MsgButtons buttons, MsgIcon icon) = 0;
};

// Prints "Loomvale: <prompt>" to standard error and answers Cancel where it
// can (No for Yes/No questions), OK otherwise.
class StderrMessageBox : public IMessageBoxService {
public:
    MsgResult Show(const std::string& prompt, MsgButtons buttons, MsgIcon icon) override;
};

// Installs the service used by MsgBox (nullptr restores the stderr one).
// The caller keeps ownership; the service must outlive its use.
void SetMessageBoxService(IMessageBoxService* service);
IMessageBoxService& MessageBoxService();

inline MsgResult MsgBox(const std::string& prompt, MsgButtons buttons, MsgIcon icon) {
    return MessageBoxService().Show(prompt, buttons, icon);
}

}  // namespace platform
