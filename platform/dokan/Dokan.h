// The user-mode file-system driver: mounts a drive letter and serves the callback table
// until the drive is unmounted. On this machine drive letter X is the folder
// <drive root>/X (see DriveRoot.h), served through FUSE.
#pragma once

#include "platform/dokan/DokanTypes.h"
#include "platform/driveroot/MountTable.h"

// Mounts options->DriveLetter and calls `operations` from up to options->ThreadCount threads
// until the drive is unmounted (DokanUnmount from any thread, or an unmount from outside).
// Returns DOKAN_SUCCESS (0) after the unmount, DOKAN_DRIVE_LETTER_ERROR (-2) for a letter
// outside A-Z, DOKAN_DRIVER_INSTALL_ERROR (-3) when FUSE is not available,
// DOKAN_MOUNT_ERROR (-5) when the letter's folder cannot be mounted (taken, not creatable),
// DOKAN_ERROR (-1) otherwise. Entries of `operations` left empty answer "not supported";
// FindFilesWithPattern is never used.
int DokanMain(PDOKAN_OPTIONS options, PDOKAN_OPERATIONS operations);

// Asks the drive mounted by this process at `letter` to go; returns at once, before
// DokanMain has returned. TRUE when such a drive was mounted or being mounted.
BOOL DokanUnmount(WCHAR letter);

// Tells the kernel that the entry at `path` (drive form, "\\a\\b") of the drive mounted by
// this process at `letter` changed: its cached attributes are dropped, and for a folder its
// cached listing, so the next stat or listing asks the file system again. Call it for an
// entry whose size, time or attributes changed, for an entry removed or renamed (its old
// path), and for the folders whose children changed. Must not be called from inside a
// callback of the same drive while holding a lock that callback paths take. TRUE when the
// drive is mounted (whether or not the kernel knew the entry).
BOOL DokanNotifyChanged(WCHAR letter, LPCWSTR path);
