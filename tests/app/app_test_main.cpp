// The desktop program's tests run on the offscreen platform with settings in a folder of their
// own, so that no user's settings are read or changed.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("VELTRANO"));
  QCoreApplication::setApplicationName(QStringLiteral("Upgrade"));
  return RUN_ALL_TESTS();
}
