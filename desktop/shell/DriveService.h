// The drive service that the program's end stops without waiting. A service that is not
// installed is left alone. (The tray's service entry controls the drive's own unit, see
// TarvexUnit.h.)
#pragma once

// Sends the stop control and returns at once.
void StopDriveServiceWithoutWaiting();
