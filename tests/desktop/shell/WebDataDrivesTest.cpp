// The drive letters the page may offer, over real mounted drives under a temporary drive root.
#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "desktop/drive/CAction.h"
#include "desktop/settings/CConfig.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/WebData.h"
#include "tests/support/Files.h"
#include "tests/support/FuseDrives.h"

namespace {

QStringList Letters(const QString& text) {
  QStringList letters;
  const QJsonArray array =
      QJsonDocument::fromJson(text.toUtf8()).object()[QStringLiteral("result")].toArray();
  for (const QJsonValue& letter : array) letters << letter.toString();
  return letters;
}

QStringList AllLettersBut(const QString& taken) {
  QStringList letters;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (!taken.contains(QLatin1Char(letter))) letters << QString(QLatin1Char(letter));
  }
  return letters;
}

TEST(WebDataDrives, OffersEveryFreeLetterAndKeepsTheConfiguredOne) {
  if (!FuseUsable()) GTEST_SKIP() << "no usable /dev/fuse: FUSE is not available here";
  int argc = 1;
  char name[] = "webdata_drives_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  TempDriveRoot root;
  TempDir folder;
  DesktopContext context(QString::fromStdString(folder.path()));
  WriteFile(folder.file("tarvex.ini"), "[Set]\nDriveLetter=M\n");
  ::setenv("QUELLAN_PIPE", folder.file("Tarvex").c_str(), 1);
  CAction action(QStringLiteral("/nonexistent"), context.programFolder);
  CConfig settings(context.settingsPath());
  settings.load();
  WebData bridge(context, action, settings, nullptr);

  auto c = std::make_unique<EmptyDrive>('C');
  auto d = std::make_unique<EmptyDrive>('D');
  ASSERT_TRUE(WaitFor([&] { return root.mounted('C') && root.mounted('D'); }));
  EXPECT_EQ(Letters(bridge.getDriveLetterList()), AllLettersBut(QStringLiteral("CD")));

  EmptyDrive m('M');
  ASSERT_TRUE(WaitFor([&] { return root.mounted('M'); }));
  EXPECT_EQ(Letters(bridge.getDriveLetterList()), AllLettersBut(QStringLiteral("CD")));
  c.reset();
  EXPECT_EQ(Letters(bridge.getDriveLetterList()), AllLettersBut(QStringLiteral("D")));
}

}  // namespace
