// The driver's callback table of a mounted drive: each callback logs an entry line, calls the
// current mirror's operation of the same name with the driver's arguments unchanged, logs a
// return line and hands the mirror's result back. Disk space and volume information are
// forwarded without logging; pattern search is left empty so the driver lists with FindFiles.
#pragma once

#include "platform/dokan/DokanTypes.h"

// Fills all entries of `operations` (FindFilesWithPattern stays null).
void FillDriveCallbacks(DOKAN_OPERATIONS& operations);
