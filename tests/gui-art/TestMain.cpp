#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;  // the wizard's settings stay out of the home folder
    if (qEnvironmentVariableIsEmpty("LOOMVALE_REGISTRY")) qputenv("LOOMVALE_REGISTRY", settings.path().toUtf8());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
