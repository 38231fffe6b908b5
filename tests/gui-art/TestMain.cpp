#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform complains whenever it cannot raise or grab.
    static const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType t, const QMessageLogContext& c, const QString& m) {
        if (previous && !m.startsWith(QLatin1String("This plugin does not support"))) previous(t, c, m);
    });
    QTemporaryDir settings;  // the wizard's settings stay out of the home folder
    if (qEnvironmentVariableIsEmpty("LOOMVALE_REGISTRY")) qputenv("LOOMVALE_REGISTRY", settings.path().toUtf8());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
