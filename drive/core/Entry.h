// The drive program's main routine.
#pragma once

struct DriveProcess;

// Runs the drive program on `drive`, the program's state made by main; returns only for the
// command-line actions that end at once (help, install, remove, a failed start).
int DriveMain(DriveProcess& drive, int argc, char** argv);
