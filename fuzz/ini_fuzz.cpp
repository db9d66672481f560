// Feeds arbitrary bytes to the settings-file reader and writer as a file's contents.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/profile/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/quellan-ini-fuzz-" + std::to_string(::getpid()) + ".ini";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  for (const char16_t* key : {u"Debug", u"Run", u"DriveLetter", u"UserName"}) {
    std::u16string value = GetPrivateProfileString(u"Set", key, u"d", path);
    if (value.size() >= kProfileBufferChars) __builtin_trap();
  }
  WritePrivateProfileString(u"User", u"PassWord", u"0123456789abcdef", path);
  if (GetPrivateProfileString(u"User", u"PassWord", u"", path) != u"0123456789abcdef")
    __builtin_trap();
  return 0;
}
