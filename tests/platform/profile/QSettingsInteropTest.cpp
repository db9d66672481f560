// The desktop program keeps the same settings file through QSettings; both sides must read
// exactly what the other wrote.
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <QTextCodec>

#include "platform/codepage/CodePage.h"
#include "platform/profile/Profile.h"
#include "tests/support/TempDir.h"

namespace {

QString ToQ(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<int>(text.size()));
}

std::u16string FromQ(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
}

// Single characters that force quotes or an escape on their own ("a;b" would read back as "a"
// unquoted; a control character written as "\x1" must not swallow a hex digit after it).
const std::u16string kValues[] = {u";",
                                  u",",
                                  u"=",
                                  u"a;b",
                                  u"\x01",
                                  u"\x01"
                                  u"a",
                                  u"\x1f"
                                  u"F",
                                  u"张三",
                                  u"user name",
                                  u"a,b",
                                  u"x=y;z",
                                  u" lead",
                                  u"trail ",
                                  u"q\"uote",
                                  u"back\\slash",
                                  u"@home",
                                  u"tab\tin",
                                  u"0123456789abcdef0123456789abcdef",
                                  u""};

TEST(QSettingsInteropTest, ReadsWhatQSettingsWrote) {
  TempDir dir;
  std::string ini = dir.file("tarvex.ini");
  for (const std::u16string& value : kValues) {
    {
      QSettings settings(QString::fromStdString(ini), QSettings::IniFormat);
      settings.setIniCodec("UTF-8");
      settings.setValue("User/UserName", ToQ(value));
      settings.setValue("Set/Debug", 31);
      settings.sync();
    }
    EXPECT_EQ(GetPrivateProfileString(u"User", u"UserName", u"-", ini), value);
    EXPECT_EQ(GetPrivateProfileString(u"Set", u"Debug", u"-", ini), u"31");
  }
}

TEST(QSettingsInteropTest, QSettingsReadsWhatTheLayerWrote) {
  TempDir dir;
  int round = 0;
  for (const std::u16string& value : kValues) {
    // A file per value: within one process QSettings caches a file by name, size and time.
    std::string ini = dir.file("tarvex" + std::to_string(++round) + ".ini");
    {
      QSettings settings(QString::fromStdString(ini), QSettings::IniFormat);
      settings.setIniCodec("UTF-8");
      settings.setValue("Set/DriveLetter", "M");
      settings.sync();
    }
    ASSERT_TRUE(WritePrivateProfileString(u"User", u"UserName", value, ini));
    QSettings settings(QString::fromStdString(ini), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    EXPECT_EQ(FromQ(settings.value("User/UserName").toString()), value)
        << codepage::WideToUtf8(value);
    EXPECT_EQ(settings.value("Set/DriveLetter").toString(), QString("M"));
  }
}

}  // namespace
