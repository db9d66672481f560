// Choosing the drive letter of a mount: the wanted letter, or the first one after it (Z
// wraps to A) that the system does not list as a drive root.
#pragma once

#include <string>

#include "platform/dokan/DokanTypes.h"

class MirrorLog;

// The system's drive roots joined into one text, e.g. u"C:\\D:\\".
std::u16string JoinedDriveRoots();

// Takes away a mount of `letter` that a drive program left behind when it ended without
// unmounting (its file system process is gone), so the drive mounts there again instead of
// at the next free letter; logs it to `log`. A live mount is left alone.
void ReclaimDeadDriveLetter(MirrorLog& log, WCHAR letter);

// Moves `letter` on while `roots` holds it followed by ":" (an exact, case-sensitive match),
// trying each of the 26 letters at most once. Returns false, leaving `letter` as it was, when
// every letter is taken.
bool FindFreeDriveLetter(const std::u16string& roots, WCHAR& letter);
