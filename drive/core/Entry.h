// The drive program's main routine.
#pragma once

int DriveMain(int argc, char** argv);
