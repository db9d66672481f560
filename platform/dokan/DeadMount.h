// Mounts left behind by a drive program that ended without unmounting (killed, crashed): the
// folder stays a FUSE mount point whose file system process is gone, every access fails with
// "Transport endpoint is not connected", and the letter looks taken.
#pragma once

#include <string>

#include "platform/dokan/DokanTypes.h"

namespace dokan {

// True when `mountPoint` is a FUSE mount whose file system process is gone. A drive that is
// alive but does not answer within `limitMs` counts as alive.
bool IsDeadFuseMount(const std::string& mountPoint, int limitMs = 2000);

// Takes the mount of `letter` under the drive root out of the tree (lazily) when it is a dead
// FUSE mount; a live mount, whoever serves it, is left alone. True when a dead mount was
// taken away.
bool ClearDeadDrive(WCHAR letter);

}  // namespace dokan
