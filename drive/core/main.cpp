#include "drive/core/DriveProcess.h"
#include "drive/core/Entry.h"
#include "drive/storage/QLVMirror.h"

int main(int argc, char** argv) {
  // Each mount cycle talks to the storage service through a mirror of its own.
  Drive().createMirror = [] { return new QLVMirror(); };
  return DriveMain(argc, argv);
}
