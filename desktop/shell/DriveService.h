// The drive service as the desktop program controls it: the tray's entry starts or stops it
// by the service flag the drive watcher publishes, and the program's end stops it without
// waiting. A service that is not installed is left alone.
#pragma once

enum class ServiceOutcome { NotOpened, Done, Failed };

// Flag 0 starts the service; flag 1 stops it and waits (at most 100 polls of 500 ms) until it
// reports stopped. Failed for a refused start or stop and for any other flag.
ServiceOutcome OperateDriveService(int serviceFlag);

// Sends the stop control and returns at once.
void StopDriveServiceWithoutWaiting();
