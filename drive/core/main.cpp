#include "drive/core/Entry.h"

int main(int argc, char** argv) { return DriveMain(argc, argv); }
