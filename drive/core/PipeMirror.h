// The control pipe's access to the current mirror: each call runs with the mirror held
// alive, so a mount cycle that ends meanwhile waits for it instead of freeing the mirror.
#pragma once

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"

// `use(mirror)` on the current mirror of `drive`, or `fallback` when there is none.
template <typename Result, typename Use>
Result OnMirror(DriveProcess& drive, Result fallback, Use&& use) {
  return drive.withCurrentObjects([&](IOMirror* mirror, MirrorConfig*) -> Result {
    return mirror != nullptr ? use(*mirror) : fallback;
  });
}
