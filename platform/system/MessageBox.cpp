#include "platform/system/MessageBox.h"

#include <cstdio>

#include "platform/text/VisibleText.h"

namespace platform {

namespace {
StderrMessageBox g_stderrBox;
IMessageBoxService* g_service = nullptr;
}  // namespace

MsgResult StderrMessageBox::Show(const std::string& prompt, MsgButtons buttons, MsgIcon) {
    // One line: each line break (CR LF, or a lone CR or LF) becomes a blank.
    std::string text;
    for (std::size_t i = 0; i < prompt.size(); ++i) {
        const bool pair = prompt[i] == '\r' && i + 1 < prompt.size() && prompt[i + 1] == '\n';
        text += prompt[i] == '\r' || prompt[i] == '\n' ? ' ' : prompt[i];
        i += pair;
    }
    // The prompt may name a file: no control character reaches the terminal.
    std::fprintf(stderr, "%s: %s\n", kProductName, VisibleText(text).c_str());
    switch (buttons) {
    case MsgButtons::OK: return MsgResult::OK;
    case MsgButtons::YesNo: return MsgResult::No;
    default: return MsgResult::Cancel;
    }
}

void SetMessageBoxService(IMessageBoxService* service) { g_service = service; }

IMessageBoxService& MessageBoxService() { return g_service ? *g_service : g_stderrBox; }

}  // namespace platform
