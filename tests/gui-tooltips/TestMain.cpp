#include <gtest/gtest.h>

#include <QApplication>

// The offscreen platform says so whenever it cannot raise or grab; the tests depend on neither.
static QtMessageHandler g_previous = nullptr;
static void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (msg.startsWith(QLatin1String("This plugin does not support"))) return;
    if (g_previous) g_previous(type, context, msg);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_previous = qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
