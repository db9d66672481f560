#include "drive/core/MirrorConfig.h"

#include <sys/stat.h>

#include <climits>

#include "drive/core/DriveProcess.h"
#include "platform/codepage/CodePage.h"
#include "platform/profile/Profile.h"

int32_t ParseDecimal(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(value);
}

int32_t ParseDebugValue(const std::u16string& text) {
  if (text == u"false") return 0;
  if (text == u"true") return 9;
  return ParseDecimal(text);
}

MirrorConfig::MirrorConfig(std::u16string settingsPath) : settingsPath_(std::move(settingsPath)) {}

std::u16string MirrorConfig::userName() const {
  MutexLock guard(credentialsLock_);
  return userName_;
}

std::u16string MirrorConfig::passWord() const {
  MutexLock guard(credentialsLock_);
  return passWord_;
}

std::u16string MirrorConfig::readKey(const char16_t* section, const char16_t* key,
                                     const char16_t* defaultValue) const {
  return GetPrivateProfileString(section, key, defaultValue, codepage::WideToAnsi(settingsPath_));
}

void MirrorConfig::writeKey(const char16_t* section, const char16_t* key,
                            const std::u16string& value) {
  WritePrivateProfileString(section, key, value, codepage::WideToAnsi(settingsPath_));
}

int MirrorConfig::readSettings(DriveProcess& drive) {
  std::string path = codepage::WideToAnsi(settingsPath_);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    drive.log().log(settingsPath_ + u"不存在!", kLogResults);
    return -1;
  }
  MirrorLog& log = drive.log();

  Debug = ParseDebugValue(readKey(u"Set", u"Debug", u"0"));
  drive.debugMask = static_cast<uint32_t>(Debug.load());
  const bool echo = Debug != 0;

  std::u16string text = readKey(u"Set", u"CacheMod", u"");
  CacheMod = text.empty() ? 2 : ParseDecimal(text);
  if (echo) log.logf(kLogDetail, "CacheMod:%d", CacheMod);

  text = readKey(u"Set", u"MaxDiskCache", u"");
  MaxDiskCache = text.empty() ? 300 : ParseDecimal(text);
  if (echo) log.logf(kLogDetail, "MaxDiskCache:%d MB", MaxDiskCache);

  // A key that is present but empty means its default, as a missing one does.
  DriveLetter = readKey(u"Set", u"DriveLetter", u"");
  if (DriveLetter.empty()) DriveLetter = u"M";
  if (echo) log.log(u"DriveLetter:" + DriveLetter, kLogDetail);

  ServerAddress = readKey(u"Set", u"ServerAddress", u"");
  if (ServerAddress.empty()) ServerAddress = kDefaultServerAddress;
  if (echo) log.log(u"ServerAddress:" + ServerAddress, kLogDetail);

  text = readKey(u"Set", u"Run", u"");
  Run = text.empty() ? 1 : ParseDecimal(text);
  if (echo) log.logf(kLogDetail, "Run:%d ", Run.load());

  std::u16string name = readKey(u"User", u"UserName", u"");
  std::u16string password = readKey(u"User", u"PassWord", u"");
  {
    MutexLock guard(credentialsLock_);
    userName_ = name;
    passWord_ = password;
  }
  if (echo) log.log(u"UserName:" + name, kLogDetail);
  // The password digest is as good as the password to the service: the echo only says
  // whether one is set.
  if (echo) log.log(password.empty() ? u"PassWord:" : u"PassWord:******", kLogDetail);
  return 0;
}

int MirrorConfig::setDebug(int32_t value) {
  Debug = value;
  writeKey(u"Set", u"Debug", FormatWide("%d", value));
  return 0;
}

int MirrorConfig::setUserName(const std::u16string& text) {
  {
    MutexLock guard(credentialsLock_);
    userName_ = text;
  }
  writeKey(u"User", u"UserName", text);
  return 0;
}

int MirrorConfig::setPassWord(const std::u16string& text) {
  {
    MutexLock guard(credentialsLock_);
    passWord_ = text;
  }
  writeKey(u"User", u"PassWord", text);
  return 0;
}
