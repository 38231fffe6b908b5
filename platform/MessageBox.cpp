#include "platform/MessageBox.h"

#include <cstdio>

namespace platform {

namespace {
StderrMessageBox g_stderrBox;
IMessageBoxService* g_service = nullptr;
}  // namespace

MsgResult StderrMessageBox::Show(const std::string& prompt, MsgButtons buttons, MsgIcon) {
    std::string text = prompt;
    for (auto& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    std::fprintf(stderr, "%s: %s\n", kProductName, text.c_str());
    switch (buttons) {
    case MsgButtons::OK: return MsgResult::OK;
    case MsgButtons::YesNo: return MsgResult::No;
    default: return MsgResult::Cancel;
    }
}

void SetMessageBoxService(IMessageBoxService* service) { g_service = service; }

IMessageBoxService& MessageBoxService() { return g_service ? *g_service : g_stderrBox; }

}  // namespace platform
