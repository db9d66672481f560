// Telling the mounted drive that entries changed behind the kernel's back.
#pragma once

#include <string>
#include <vector>

struct DriveProcess;

// Tells the mounted drive that the entries at these paths ("\\a\\b") changed, so the kernel
// drops the names and attributes it keeps for them: the old path of an entry removed, renamed
// or moved, an entry whose size or time changed, and each folder whose children changed.
// Call it after every change of the tables, without the tree lock. Nothing is mounted: nothing
// to tell.
void NotifyDriveChanged(DriveProcess& drive, const std::vector<std::u16string>& paths);
