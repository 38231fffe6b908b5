// Shared main of the window tests: offscreen (or xcb or wayland when asked), quiet, settings kept out of the home folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

namespace {
// The offscreen platform complains whenever it cannot raise or grab; no test depends on either.
QtMessageHandler g_previous = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (msg.startsWith(QLatin1String("This plugin does not support"))) return;
    if (g_previous) g_previous(type, context, msg);
}
}  // namespace

int main(int argc, char** argv) {
    // Offscreen unless the test command asks for a real display (xcb on Xvfb, wayland on weston).
    if (const QByteArray p = qgetenv("QT_QPA_PLATFORM"); p != "xcb" && p != "wayland") qputenv("QT_QPA_PLATFORM", "offscreen");
    g_previous = qInstallMessageHandler(QuietHandler);
    QTemporaryDir settings;
    if (qEnvironmentVariableIsEmpty("LOOMVALE_REGISTRY")) qputenv("LOOMVALE_REGISTRY", settings.path().toUtf8());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
