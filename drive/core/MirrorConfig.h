// The drive program's settings of one mount cycle, read from "tarvex.ini".
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/sync/Mutex.h"

struct DriveProcess;

// Storage service host used when the settings name none.
inline constexpr char16_t kDefaultServerAddress[] = u"127.0.0.1";

class MirrorConfig {
 public:
  explicit MirrorConfig(std::u16string settingsPath);

  // Fields read on the mount thread and by the storage client; `Debug` and `Run` are also
  // written by the control pipe thread while the drive runs, hence atomic.
  std::u16string DriveLetter = u"M";
  int32_t ThreadCount = 10;
  std::atomic<int32_t> Debug{0};
  int32_t CacheMod = 0;
  int32_t MaxDiskCache = 100;
  std::atomic<int32_t> Run{0};
  std::u16string ServerAddress;

  // The user name and password are replaced by the control pipe thread while the storage
  // client reads them, so they are only reached through these accessors.
  std::u16string userName() const;
  std::u16string passWord() const;

  const std::u16string& settingsPath() const { return settingsPath_; }

  // Reads the settings file into this record and sets the debug mask of `drive` from it.
  // Returns 0, or -1 when the file does not exist (a category-1 line is logged to the log of
  // `drive` and no field changes).
  int readSettings(DriveProcess& drive);

  // Each sets the field and writes its key to the file at once; each returns 0.
  int setDebug(int32_t value);
  int setUserName(const std::u16string& text);
  int setPassWord(const std::u16string& text);

 private:
  std::u16string readKey(const char16_t* section, const char16_t* key,
                         const char16_t* defaultValue) const;
  void writeKey(const char16_t* section, const char16_t* key, const std::u16string& value);

  mutable Mutex credentialsLock_;
  std::u16string userName_ GUARDED_BY(credentialsLock_);
  std::u16string passWord_ GUARDED_BY(credentialsLock_);
  const std::u16string settingsPath_;
};

// The value of a Debug setting: "false" → 0, "true" → 9, else its decimal value (0 when it
// is not a number). The words compare exactly, case included.
int32_t ParseDebugValue(const std::u16string& text);

// Decimal conversion that stops at the first non-digit, like the C library's: "12ab" → 12,
// "x" → 0. Values beyond 32 bits are clamped.
int32_t ParseDecimal(const std::u16string& text);
