#include "drive/core/DriveLetterSearch.h"

#include "drive/core/MirrorLog.h"
#include "platform/dokan/DeadMount.h"
#include "platform/dokan/Dokan.h"

namespace {

constexpr DWORD kRootBufferLength = 1024;
constexpr int kLetterCount = 26;

WCHAR NextLetter(WCHAR letter) { return letter == u'Z' ? u'A' : static_cast<WCHAR>(letter + 1); }

bool Taken(const std::u16string& roots, WCHAR letter) {
  const char16_t probe[] = {letter, u':'};
  return roots.find(std::u16string_view(probe, 2)) != std::u16string::npos;
}

}  // namespace

std::u16string JoinedDriveRoots() {
  WCHAR buffer[kRootBufferLength] = {};
  DWORD length = GetLogicalDriveStrings(kRootBufferLength, buffer);
  if (length == 0 || length >= kRootBufferLength) return std::u16string();
  std::u16string joined;
  for (DWORD i = 0; i < length; ++i) {
    if (buffer[i] != u'\0') joined += buffer[i];
  }
  return joined;
}

void ReclaimDeadDriveLetter(MirrorLog& log, WCHAR letter) {
  if (!dokan::ClearDeadDrive(letter)) return;
  log.log(u"Dokan:Cleared the dead mount of " + std::u16string(1, letter) + u":", kLogResults);
}

bool FindFreeDriveLetter(const std::u16string& roots, WCHAR& letter) {
  WCHAR candidate = letter;
  for (int tries = 0; tries < kLetterCount; ++tries) {
    if (!Taken(roots, candidate)) {
      letter = candidate;
      return true;
    }
    candidate = NextLetter(candidate);
  }
  return false;
}
